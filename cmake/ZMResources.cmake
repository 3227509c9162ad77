# Embedding of raw-data resources into programs.
#
#   zm_add_resources(<target> NAME <name> FILE <path> [TYPE <n>] [NAME ...])
#
# Each NAME starts a resource; TYPE defaults to 10 (raw data). A NAME of digits, or
# "#" and digits, is a numbered resource. On Windows the files become RCDATA resources
# of a generated .rc script. Elsewhere zm_embed writes a C++ table that registers
# itself at start-up; it is compiled into the target itself, or, for a static library,
# into an object library that every program linking the library takes whole, so that
# the linker cannot drop the registration.
if(WIN32)
  enable_language(RC)
endif()
get_filename_component(ZM_RESOURCES_PLATFORM_DIR "${CMAKE_CURRENT_LIST_DIR}/../platform" ABSOLUTE)

function(zm_add_resources target)
  set(names "")
  set(types "")
  set(files "")
  set(index -1)
  set(expect "")
  foreach(arg IN LISTS ARGN)
    if(expect STREQUAL "")
      if(arg STREQUAL "NAME" OR arg STREQUAL "FILE" OR arg STREQUAL "TYPE")
        set(expect ${arg})
      else()
        message(FATAL_ERROR "zm_add_resources: unexpected '${arg}'")
      endif()
    elseif(expect STREQUAL "NAME")
      math(EXPR index "${index} + 1")
      list(APPEND names "${arg}")
      list(APPEND types 10)
      list(APPEND files "-")
      set(expect "")
    else()
      if(index LESS 0)
        message(FATAL_ERROR "zm_add_resources: ${expect} before NAME")
      endif()
      if(expect STREQUAL "FILE")
        get_filename_component(path "${arg}" ABSOLUTE)
        list(REMOVE_AT files ${index})
        list(INSERT files ${index} "${path}")
      else()
        list(REMOVE_AT types ${index})
        list(INSERT types ${index} "${arg}")
      endif()
      set(expect "")
    endif()
  endforeach()
  if(index LESS 0 OR NOT expect STREQUAL "")
    message(FATAL_ERROR "zm_add_resources: expected NAME <name> FILE <path> [TYPE <n>] ...")
  endif()

  get_property(serial TARGET ${target} PROPERTY ZM_RESOURCE_SERIAL)
  if(NOT serial)
    set(serial 0)
  endif()
  math(EXPR next "${serial} + 1")
  set_property(TARGET ${target} PROPERTY ZM_RESOURCE_SERIAL ${next})

  set(args "")
  set(rc "")
  foreach(i RANGE ${index})
    list(GET names ${i} name)
    list(GET types ${i} type)
    list(GET files ${i} path)
    if(path STREQUAL "-")
      message(FATAL_ERROR "zm_add_resources: resource ${name} has no FILE")
    endif()
    list(APPEND args "${name}" "${type}" "${path}")
    # Script names: numbers as they are, other names bare (a quoted name would join
    # the previous line's file name; the compiler stores names in upper case and the
    # lookup ignores case).
    if(name MATCHES "^#?([0-9]+)$")
      set(rcname "${CMAKE_MATCH_1}")
    elseif(name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      set(rcname "${name}")
    else()
      message(FATAL_ERROR "zm_add_resources: resource name '${name}' is not a plain name")
    endif()
    if(type EQUAL 10)
      set(rctype RCDATA)
    else()
      set(rctype ${type})
    endif()
    # Paths in the script use '/' and escape '"' and '\' for the resource compiler.
    string(REPLACE "\\" "/" rcpath "${path}")
    string(REPLACE "\"" "\"\"" rcpath "${rcpath}")
    string(APPEND rc "${rcname} ${rctype} \"${rcpath}\"\n")
  endforeach()

  if(WIN32)
    set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_res${serial}.rc")
    file(GENERATE OUTPUT "${out}" CONTENT "${rc}")
    get_target_property(kind ${target} TYPE)
    if(kind STREQUAL "STATIC_LIBRARY" OR kind STREQUAL "INTERFACE_LIBRARY")
      # An archive member nobody references would be dropped: programs take the
      # compiled script whole.
      set(objlib ${target}_res${serial})
      add_library(${objlib} OBJECT "${out}")
      target_link_libraries(${target} INTERFACE $<TARGET_OBJECTS:${objlib}>)
    else()
      target_sources(${target} PRIVATE "${out}")
    endif()
    # The script names the data files: rebuild the resources when they change.
    set_source_files_properties("${out}" PROPERTIES OBJECT_DEPENDS "${files}")
    return()
  endif()

  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_res${serial}.cpp")
  add_custom_command(OUTPUT "${out}"
    COMMAND zm_embed "${out}" ${args}
    DEPENDS zm_embed ${files}
    COMMENT "Embedding resources into ${target}"
    VERBATIM)
  set_source_files_properties("${out}" PROPERTIES
    GENERATED TRUE
    INCLUDE_DIRECTORIES "${ZM_RESOURCES_PLATFORM_DIR}")
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "STATIC_LIBRARY" OR kind STREQUAL "INTERFACE_LIBRARY")
    set(objlib ${target}_res${serial})
    add_library(${objlib} OBJECT "${out}")
    target_link_libraries(${target} INTERFACE $<TARGET_OBJECTS:${objlib}> zm_platform)
  else()
    target_sources(${target} PRIVATE "${out}")
  endif()
endfunction()
