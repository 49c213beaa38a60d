# What both Windows toolchain files share: the compilers of one mingw-w64
# target (UNINST_MINGW_TARGET, say i686-w64-mingw32) and the emulator hook
# through which test programs run under Wine (UNINST_WINE_RUN_ARGS before the
# tree's own prefix, UNINST_WINEPREFIX_NAME).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${UNINST_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UNINST_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${UNINST_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${UNINST_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Each build tree gets its own Wine prefix, so that test runs of different
# trees never share (or stop) one wineserver. UNINST_WINEPREFIX overrides.
get_filename_component(UNINST_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${UNINST_SOURCE_ROOT}/tools/wine-run ${UNINST_WINE_RUN_ARGS}
    --prefix-default ${CMAKE_BINARY_DIR}/${UNINST_WINEPREFIX_NAME})
