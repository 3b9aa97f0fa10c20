# 32-bit Windows build: the program that ships. Its tests run under Wine's
# 32-bit loader, in a win32 prefix of their own (see scripts/env.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZYR_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${ZYR_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZYR_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZYR_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZYR_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
