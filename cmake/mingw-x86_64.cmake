# 64-bit Windows build: the same sources, tested under wine64 in a win64
# prefix of their own (see scripts/env.sh).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZYR_TRIPLE x86_64-w64-mingw32)
set(ZYR_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
