# Cross-compiles a 64-bit Windows tree. The program people run is the 32-bit
# one (i686-w64-mingw32.cmake); this tree is for hosts that run no 32-bit
# code at all, where tools/test runs the Windows tests on a 64-bit build in a
# 64-bit prefix. Test programs run under Wine through the emulator hook.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Each build tree gets its own Wine prefix, so that test runs of different
# trees never share (or stop) one wineserver. UNINST_WINEPREFIX overrides.
# A 64-bit program runs in a 64-bit prefix only: the tree's one prefix.
get_filename_component(UNINST_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${UNINST_SOURCE_ROOT}/tools/wine-run;--win64;--prefix-default;${CMAKE_BINARY_DIR}/wineprefix64")
