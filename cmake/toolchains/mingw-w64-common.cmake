# What the mingw-w64 toolchains share; the including file sets ZM_MINGW_TRIPLE first.
# The C and C++ runtimes, winpthread and zlib are linked statically, so the programs
# need nothing beside them.

# The POSIX thread model (std::mutex, std::thread, std::call_once with GCC 12).
find_program(ZM_MINGW_CC NAMES ${ZM_MINGW_TRIPLE}-gcc-posix ${ZM_MINGW_TRIPLE}-gcc REQUIRED)
find_program(ZM_MINGW_CXX NAMES ${ZM_MINGW_TRIPLE}-g++-posix ${ZM_MINGW_TRIPLE}-g++ REQUIRED)
find_program(ZM_MINGW_RC NAMES ${ZM_MINGW_TRIPLE}-windres REQUIRED)
set(CMAKE_C_COMPILER ${ZM_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ZM_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ZM_MINGW_RC})

# The second root holds libbz2, liblzma, libzstd and Nettle as scripts/setup-windows
# builds them.
set(CMAKE_FIND_ROOT_PATH /usr/${ZM_MINGW_TRIPLE} /opt/zm-mingw/${ZM_MINGW_TRIPLE})
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

# The shared compiler cache, when the machine has one.
find_program(ZM_CCACHE ccache)
if(ZM_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER ${ZM_CCACHE} CACHE STRING "")
  set(CMAKE_CXX_COMPILER_LAUNCHER ${ZM_CCACHE} CACHE STRING "")
endif()
