# Cross build for 64-bit Windows with mingw-w64 (Debian's g++-mingw-w64-x86-64-posix).
# The C and C++ runtimes, winpthread and zlib are linked statically, so the programs
# need nothing beside them. Programs run under wine64 (CMAKE_CROSSCOMPILING_EMULATOR),
# which also runs the build-time generators. Programs with a wide entry point (wmain,
# wWinMain) add -municode to their own compile and link options.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZM_MINGW_TRIPLE x86_64-w64-mingw32)

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

# wine64 through wine-run (quiet, its own prefix, plain line ends).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run
      CACHE STRING "Runs the Windows programs")
endif()

# The shared compiler cache, when the machine has one.
find_program(ZM_CCACHE ccache)
if(ZM_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER ${ZM_CCACHE} CACHE STRING "")
  set(CMAKE_CXX_COMPILER_LAUNCHER ${ZM_CCACHE} CACHE STRING "")
endif()
