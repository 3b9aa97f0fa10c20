# 64-bit Windows build: the same sources, tested under wine64 in a win64
# prefix of their own (see scripts/env.sh).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
zyr_mingw_toolchain(x86_64 x86_64-w64-mingw32 /usr/lib/wine/wine64)
