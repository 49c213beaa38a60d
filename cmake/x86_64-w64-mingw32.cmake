# Cross-compiles a 64-bit Windows tree. The program people run is the 32-bit
# one (i686-w64-mingw32.cmake); this tree is for hosts that run no 32-bit
# code at all, where tools/test runs the Windows tests on a 64-bit build in a
# 64-bit prefix, the tree's one prefix.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(UNINST_MINGW_TARGET x86_64-w64-mingw32)
set(UNINST_WINE_RUN_ARGS --win64)
set(UNINST_WINEPREFIX_NAME wineprefix64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
