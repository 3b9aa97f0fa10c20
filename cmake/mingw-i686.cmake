# 32-bit Windows build: the program that ships. Its tests run under Wine's
# 32-bit loader, in a win32 prefix of their own (see scripts/env.sh).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
zyr_mingw_toolchain(x86 i686-w64-mingw32 /usr/lib/wine/wine)
