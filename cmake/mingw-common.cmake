# zyr_mingw_toolchain(PROCESSOR TRIPLE WINE_LOADER): what both Windows
# builds' toolchain files set, from the three things that tell them apart:
# the processor, the mingw-w64 compilers' prefix and the Wine loader that
# runs the build's tests.
macro(zyr_mingw_toolchain processor triple loader)
  set(CMAKE_SYSTEM_NAME Windows)
  set(CMAKE_SYSTEM_PROCESSOR ${processor})
  set(ZYR_TRIPLE ${triple})
  set(CMAKE_C_COMPILER   ${ZYR_TRIPLE}-gcc-posix)
  set(CMAKE_CXX_COMPILER ${ZYR_TRIPLE}-g++-posix)
  set(CMAKE_RC_COMPILER  ${ZYR_TRIPLE}-windres)
  set(CMAKE_FIND_ROOT_PATH /usr/${ZYR_TRIPLE})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${loader})
endmacro()
