# Form streams: text form descriptions compiled by hosttools/formc into binary
# "TPF0" streams and linked into programs as RCDATA resources.
#
#   fk_compile_form(<out var> <form text> [TARGET <target>])
#     Compiles the text at build time; <out var> receives the path of the .bin.
#     With TARGET the target depends on it (so tests can read the file).
#   fk_add_form_resource(<target> <form text> <RESOURCE NAME>)
#     Also links the stream into <target> as an RCDATA resource of that name,
#     next to any .rc files the target already has.
set(FK_FORMC ${CMAKE_BINARY_DIR}/hosttools/formc${CMAKE_HOST_EXECUTABLE_SUFFIX})

function(fk_compile_form out_var text)
  cmake_parse_arguments(F "" "TARGET;OUTPUT" "" ${ARGN})
  get_filename_component(src ${text} ABSOLUTE)
  get_filename_component(base ${text} NAME_WE)
  if(F_OUTPUT)
    set(bin ${F_OUTPUT})
  else()
    set(bin ${CMAKE_CURRENT_BINARY_DIR}/forms/${base}.bin)
  endif()
  add_custom_command(OUTPUT ${bin}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/forms
    COMMAND ${FK_FORMC} ${src} ${bin} --depfile ${bin}.d
    DEPENDS ${src} fk_formc ${PROJECT_SOURCE_DIR}/hosttools/formc.cpp
    DEPFILE ${bin}.d
    COMMENT "Compiling form ${base}"
    VERBATIM)
  if(F_TARGET)
    target_sources(${F_TARGET} PRIVATE ${bin})
  endif()
  set(${out_var} ${bin} PARENT_SCOPE)
endfunction()

function(fk_add_form_resource target text resname)
  string(MAKE_C_IDENTIFIER ${resname} rcbase)
  fk_compile_form(bin ${text} TARGET ${target} OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/forms/${target}_${rcbase}.bin)
  if(NOT WIN32)
    return()  # native builds have no resources
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/forms/${target}_${rcbase}.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "${resname} RCDATA \"${bin}\"\n")
  target_sources(${target} PRIVATE ${rc})
  # windres reads the stream only while compiling the .rc; tell the build.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${bin})
endfunction()
