# Delay-loaded imports: a DLL that a program does not need before its window
# shows is loaded by the first call into it instead of at start-up.
#   fk_delay_load(<target> <dll> <function@argbytes>...)
# Lists the functions the program calls (32-bit names carry their argument
# bytes; the 64-bit names drop them). A function left off the list still
# works: it comes from the ordinary import library and loads the DLL at start.
function(fk_delay_load target dll)
  get_filename_component(base ${dll} NAME_WE)
  string(TOLOWER ${base} base)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/delay/${base}.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/delay/lib${base}_delay.a)
  set(text "LIBRARY ${dll}\nEXPORTS\n")
  foreach(f ${ARGN})
    if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REGEX REPLACE "@[0-9]+$" "" f ${f})
    endif()
    string(APPEND text "  ${f}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${def} CONTENT "${text}")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(machine -m i386 --kill-at)
  else()
    set(machine -m i386:x86-64)
  endif()
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} ${machine} --input-def ${def} --output-delaylib ${lib}
    DEPENDS ${def} VERBATIM)
  add_custom_target(${target}_delay_${base} DEPENDS ${lib})
  add_dependencies(${target} ${target}_delay_${base})
  # Must come after the code that calls in and ahead of the ordinary import
  # libraries (which the target's libraries bring): ld takes the first.
  target_link_libraries(${target} PRIVATE ${lib})
endfunction()
