# Cross-compiles the Windows tree with the 32-bit mingw-w64 toolchain: the
# program people run. Test programs run under Wine through the emulator hook.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(UNINST_MINGW_TARGET i686-w64-mingw32)
set(UNINST_WINE_RUN_ARGS "")
set(UNINST_WINEPREFIX_NAME wineprefix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
