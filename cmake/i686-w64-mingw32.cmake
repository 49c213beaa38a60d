# Cross-compiles the Windows tree with the 32-bit mingw-w64 toolchain; test
# programs run under Wine through the emulator hook.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Each build tree gets its own Wine prefix, so that test runs of different
# trees never share (or stop) one wineserver. UNINST_WINEPREFIX overrides.
get_filename_component(UNINST_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${UNINST_SOURCE_ROOT}/tools/wine-run;--prefix-default;${CMAKE_BINARY_DIR}/wineprefix")
