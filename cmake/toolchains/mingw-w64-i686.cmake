# Cross build for 32-bit Windows (i686) with mingw-w64 (Debian's g++-mingw-w64-i686-posix).
# The C and C++ runtimes, winpthread and zlib are linked statically, so the programs
# need nothing beside them. The programs do not run on these machines (wine64 runs no
# 32-bit code); the build-time generators are run from the x86-64 build instead (see
# the win32 preset). Programs with a wide entry point (wmain, wWinMain) add -municode
# to their own compile and link options.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZM_MINGW_TRIPLE i686-w64-mingw32)

# The POSIX thread model (std::mutex, std::thread, std::call_once with GCC 12).
find_program(ZM_MINGW_CC NAMES ${ZM_MINGW_TRIPLE}-gcc-posix ${ZM_MINGW_TRIPLE}-gcc REQUIRED)
find_program(ZM_MINGW_CXX NAMES ${ZM_MINGW_TRIPLE}-g++-posix ${ZM_MINGW_TRIPLE}-g++ REQUIRED)
find_program(ZM_MINGW_RC NAMES ${ZM_MINGW_TRIPLE}-windres REQUIRED)
set(CMAKE_C_COMPILER ${ZM_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ZM_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ZM_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${ZM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ZLIB_USE_STATIC_LIBS ON)

# No min/max macros from the system headers.
set(CMAKE_C_FLAGS_INIT "-DNOMINMAX")
set(CMAKE_CXX_FLAGS_INIT "-DNOMINMAX")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")


# Generators run through their x86-64 twins of the build named by ZM_HOST_TOOLS_DIR.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR AND ZM_HOST_TOOLS_DIR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/run-x86_64-tool;${CMAKE_BINARY_DIR};${ZM_HOST_TOOLS_DIR}
      CACHE STRING "Runs the build-time generators")
endif()

# The shared compiler cache, when the machine has one.
find_program(ZM_CCACHE ccache)
if(ZM_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER ${ZM_CCACHE} CACHE STRING "")
  set(CMAKE_CXX_COMPILER_LAUNCHER ${ZM_CCACHE} CACHE STRING "")
endif()
