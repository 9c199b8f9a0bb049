# update.exe, the dialog module and the stand-in installer library.
# Test builds talk to the local update server on the loopback address; the
# port comes from the proxy setting at run time.
if(FK_BUILD_TESTS)
  set(update_default_base_url "http://127.0.0.1/quillon/loader/")
else()
  set(update_default_base_url "http://updates.example.invalid/quillon/loader/")
endif()
set(UPDATE_BASE_URL "${update_default_base_url}" CACHE STRING
    "Base address of the update server; its path is /quillon/loader/")
set(UPDATE_CLIENT_CODE "QLN1" CACHE STRING
    "Client code handed to the installer (up to 10 characters; the fourth picks the Adresses key, else A)")
if(NOT UPDATE_BASE_URL MATCHES "^[Hh][Tt][Tt][Pp]://[^/]+/quillon/loader/$")
  message(FATAL_ERROR "UPDATE_BASE_URL must be http://<host>/quillon/loader/ (got ${UPDATE_BASE_URL})")
endif()
string(LENGTH "${UPDATE_CLIENT_CODE}" update_client_code_length)
if(update_client_code_length GREATER 10 OR UPDATE_CLIENT_CODE MATCHES "[\"\\\\]")
  message(FATAL_ERROR "UPDATE_CLIENT_CODE must be at most 10 plain characters")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/UpdateConfig.h.in ${CMAKE_CURRENT_BINARY_DIR}/UpdateConfig.h @ONLY)

add_library(updatefrm STATIC ${CMAKE_CURRENT_LIST_DIR}/UpdateFrm.cpp)
target_include_directories(updatefrm PUBLIC ${CMAKE_CURRENT_LIST_DIR} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_compile_definitions(updatefrm PRIVATE UPDATE_HAVE_CONFIG)
target_compile_options(updatefrm PRIVATE ${FK_WARNINGS})
target_link_libraries(updatefrm PUBLIC formkit wininet_easy)

if(WIN32)
  target_sources(updatefrm PRIVATE ${CMAKE_CURRENT_LIST_DIR}/UpdateModules_win.cpp)
  target_link_libraries(updatefrm PUBLIC shell32 advapi32 ole32)

  add_executable(update WIN32 ${CMAKE_CURRENT_LIST_DIR}/Update.cpp ${CMAKE_CURRENT_LIST_DIR}/res/update.rc)
  target_compile_options(update PRIVATE ${FK_WARNINGS})
  target_link_libraries(update PRIVATE updatefrm)
  target_sources(update PRIVATE ${CMAKE_CURRENT_LIST_DIR}/LeanRuntime.cpp)  # size, see there
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/res/update.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/res/update.ico;${CMAKE_CURRENT_LIST_DIR}/res/update.manifest")
  if(COMMAND fk_add_form_resource)
    fk_add_form_resource(update ${CMAKE_CURRENT_LIST_DIR}/res/TUpdateForm.txt TUPDATEFORM)
  endif()

  # Stand-in installer libraries: one that records what it receives, one
  # without MakeUpdate. The 32-bit export must carry the bare name.
  add_library(update2 SHARED ${CMAKE_CURRENT_LIST_DIR}/testlib/MakeUpdate.cpp)
  add_library(update2_nomake SHARED ${CMAKE_CURRENT_LIST_DIR}/testlib/NoMakeUpdate.cpp)
  foreach(lib update2 update2_nomake)
    set_target_properties(${lib} PROPERTIES PREFIX "" OUTPUT_NAME ${lib} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/testlib)
    target_compile_options(${lib} PRIVATE ${FK_WARNINGS})
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_link_options(${lib} PRIVATE -Wl,--kill-at)
    endif()
  endforeach()
endif()
