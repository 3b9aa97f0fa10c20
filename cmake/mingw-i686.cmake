# 32-bit Windows build: the program that ships. Its tests run under Wine's
# 32-bit loader, in a win32 prefix of their own (see scripts/env.sh).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZYR_TRIPLE i686-w64-mingw32)
set(ZYR_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
