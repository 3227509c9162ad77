# Cross build for 32-bit Windows (i686) with mingw-w64 (Debian's g++-mingw-w64-i686-posix).
# The C and C++ runtimes, winpthread and zlib are linked statically, so the programs
# need nothing beside them. The programs do not run on these machines (wine64 runs no
# 32-bit code); the build-time generators are run from the x86-64 build instead (see
# the win32 preset). Programs with a wide entry point (wmain, wWinMain) add -municode
# to their own compile and link options.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZM_MINGW_TRIPLE i686-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Generators run through their x86-64 twins of the build named by ZM_HOST_TOOLS_DIR.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR AND ZM_HOST_TOOLS_DIR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/run-x86_64-tool;${CMAKE_BINARY_DIR};${ZM_HOST_TOOLS_DIR}
      CACHE STRING "Runs the build-time generators")
endif()
