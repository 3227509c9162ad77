# Where `cmake --install` puts things (GNUInstallDirs: bin/, lib/ or Debian's
# lib/<multiarch> under /usr, include/, share/), and the installing of programs and
# libraries without their debugging information.
#
# Components, one package each (cmake/ZMPackage.cmake): Runtime (the shared library and
# the engine), Development (headers, the static library, the CMake and pkg-config
# files), Zmtool, Utility (rob216-update with its desktop entry and icon), and Debug
# (the split debugging information, installed by `cmake --install` but in no package).
include(GNUInstallDirs)

# The engine's folder relative to the programs' (../lib), for the loader's search.
file(RELATIVE_PATH ZM_BIN_TO_LIBDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})

# zm_install_split_debug(<target> <destination> <component>): the target's file, which
# the caller installs into <destination> in <component>, is stripped once installed; its
# debugging information goes into <file>.debug under lib/debug plus the full
# destination path (where debuggers look for it, /usr/lib/debug/usr/bin/... under
# /usr), component Debug, and the installed file names it (.gnu_debuglink).
function(zm_install_split_debug target destination component)
  if(NOT CMAKE_OBJCOPY)
    message(WARNING "no objcopy: ${target} is installed with its debugging information")
    return()
  endif()
  set(debug ${CMAKE_BINARY_DIR}/debug/$<TARGET_FILE_NAME:${target}>.debug)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debug
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug}
    VERBATIM)
  if(WIN32)
    set(debugdir lib/debug/${destination})
  else()
    set(debugdir lib/debug${CMAKE_INSTALL_PREFIX}/${destination})
  endif()
  install(FILES ${debug} DESTINATION ${debugdir} COMPONENT Debug)
  install(CODE "
    set(zm_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\")
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --strip-unneeded --remove-section=.gnu_debuglink
      \"--add-gnu-debuglink=${debug}\" \"\${zm_file}\" COMMAND_ERROR_IS_FATAL ANY)"
    COMPONENT ${component})
endfunction()
