# What both Windows builds share, included by their toolchain files once
# they have named ZYR_TRIPLE (the mingw-w64 compilers' prefix) and
# ZYR_WINE_LOADER (the Wine loader that runs their tests).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${ZYR_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZYR_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZYR_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZYR_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZYR_WINE_LOADER})
