# 32-bit Windows build: the program that ships. Wine cannot run it on this
# kernel, so it is only built (and must build without warnings).
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
