# The libraries behind the compression methods and the AES encryption: libbz2,
# liblzma, libzstd and Nettle, as the imported targets zm::bz2, zm::lzma, zm::zstd and
# zm::nettle.
#
# The engine is a shared library that may run from a temporary copy, so a library is
# linked statically where Debian's static archive can go into a shared library
# (liblzma.a and libnettle.a are built position-independent). libbz2.a and libzstd.a
# are not: the engine links libbz2.so.1.0 and libzstd.so.1, which every Debian system
# has (dpkg itself needs them). The Windows builds link everything statically, from the
# builds that scripts/setup-windows makes.

# zm_find_codec(<target> <header> <library> [STATIC]): STATIC prefers the static archive.
function(zm_find_codec target header lib)
  string(MAKE_C_IDENTIFIER ${target} id)
  find_path(ZM_${id}_INCLUDE_DIR ${header})
  if(MINGW)
    set(names lib${lib}.a)
  elseif("STATIC" IN_LIST ARGN)
    set(names lib${lib}.a ${lib})
  else()
    set(names ${lib})
  endif()
  find_library(ZM_${id}_LIBRARY NAMES ${names})
  if(NOT ZM_${id}_INCLUDE_DIR OR NOT ZM_${id}_LIBRARY)
    message(FATAL_ERROR "${target}: ${header} or the library (${names}) not found; "
      "scripts/setup installs it (scripts/setup-windows builds it for the Windows presets)")
  endif()
  add_library(${target} UNKNOWN IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${ZM_${id}_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${ZM_${id}_INCLUDE_DIR})
endfunction()

zm_find_codec(zm::bz2 bzlib.h bz2)
zm_find_codec(zm::lzma lzma.h lzma STATIC)
zm_find_codec(zm::zstd zstd.h zstd)
zm_find_codec(zm::nettle nettle/aes.h nettle STATIC)
if(MINGW)
  # The static liblzma must not be declared as imported from a DLL.
  set_property(TARGET zm::lzma PROPERTY INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
endif()
