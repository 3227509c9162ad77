# Cross build for 64-bit Windows with mingw-w64 (Debian's g++-mingw-w64-x86-64-posix).
# The C and C++ runtimes, winpthread and zlib are linked statically, so the programs
# need nothing beside them. Programs run under wine64 (CMAKE_CROSSCOMPILING_EMULATOR),
# which also runs the build-time generators. Programs with a wide entry point (wmain,
# wWinMain) add -municode to their own compile and link options.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZM_MINGW_TRIPLE x86_64-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# wine64 through wine-run (quiet, its own prefix, plain line ends).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run
      CACHE STRING "Runs the Windows programs")
endif()
