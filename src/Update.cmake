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
if(NOT UPDATE_BASE_URL MATCHES "^[Hh][Tt][Tt][Pp][Ss]?://[^/]+/quillon/loader/$")
  message(FATAL_ERROR "UPDATE_BASE_URL must be http(s)://<host>/quillon/loader/ (got ${UPDATE_BASE_URL})")
endif()
string(LENGTH "${UPDATE_CLIENT_CODE}" update_client_code_length)
if(update_client_code_length GREATER 10 OR UPDATE_CLIENT_CODE MATCHES "[\"\\\\]")
  message(FATAL_ERROR "UPDATE_CLIENT_CODE must be at most 10 plain characters")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/UpdateConfig.h.in ${CMAKE_CURRENT_BINARY_DIR}/UpdateConfig.h @ONLY)

set(UPDATE_PUBLIC_KEY "" CACHE STRING
    "Publisher's ECDSA P-256 public key, or a list of two while the key is rotated: PEM files (tools/publish keygen) or raw points (file or hex). Empty: update sets are not signed")
include(${CMAKE_CURRENT_LIST_DIR}/EmbedKey.cmake)  # a key the program cannot use stops here
update_embed_keys("${UPDATE_PUBLIC_KEY}" ${CMAKE_CURRENT_BINARY_DIR}/key/UpdateKey.h)
foreach(key IN LISTS UPDATE_PUBLIC_KEY)
  if(EXISTS "${key}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${key}")
  endif()
endforeach()

# update_add_frm(target key_include_dir signed [generated key header]): the
# dialog module with the public key from key_include_dir/UpdateKey.h. Only a
# module with a key (signed true) compiles the signed-set verifier.
function(update_add_frm target key_dir signed)
  add_library(${target} STATIC ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/UpdateFrm.cpp
              ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/LibraryImage.cpp ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/UpdateLog.cpp ${ARGN})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_FUNCTION_LIST_DIR}
                             PRIVATE ${CMAKE_CURRENT_BINARY_DIR} ${key_dir})
  # A cast to the type a value already has hides what the code means.
  target_compile_options(${target} PRIVATE ${FK_WARNINGS} $<$<CXX_COMPILER_ID:GNU>:-Wuseless-cast>)
  target_link_libraries(${target} PUBLIC formkit wininet_easy update_sign)
  if(WIN32)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/UpdateFrm_win.cpp
                                      ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/UpdateDiscovery_win.cpp
                                      ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/UpdateRun_win.cpp
                                      ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/UpdateLog_win.cpp
                                      ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/UpdateVerifier_win.cpp
                                      ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/UpdateModules_win.cpp)
    if(signed)
      target_sources(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/SignedVerifier_win.cpp)
    endif()
    target_link_libraries(${target} PUBLIC shell32 advapi32 ole32)
  endif()
endfunction()
if(UPDATE_PUBLIC_KEY STREQUAL "")
  set(update_signed_sets OFF)
else()
  set(update_signed_sets ON)
endif()
update_add_frm(updatefrm ${CMAKE_CURRENT_BINARY_DIR}/key ${update_signed_sets})

if(WIN32)

  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/res/update.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/res/update.ico;${CMAKE_CURRENT_LIST_DIR}/res/update.manifest;${CMAKE_CURRENT_BINARY_DIR}/UpdateConfig.h")
  # update_add_program(target frm_library): the program on a dialog module.
  function(update_add_program target frm)
    add_executable(${target} WIN32 ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Update.cpp
                   ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/res/update.rc)
    target_compile_options(${target} PRIVATE ${FK_WARNINGS})
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})  # UpdateConfig.h for the .rc
    target_link_libraries(${target} PRIVATE ${frm})
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/LeanRuntime.cpp)  # size, see there
    if(COMMAND fk_add_form_resource)
      fk_add_form_resource(${target} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/res/TUpdateForm.txt TUPDATEFORM)
    endif()
  endfunction()
  update_add_program(update updatefrm)

  if(FK_BUILD_TESTS)
    # A second program for the signed-set tests, with two keys made for this
    # build tree (never committed), as while a key is rotated; update.exe
    # keeps the build setting.
    set(test_keys ${CMAKE_BINARY_DIR}/testkeys)
    foreach(dir ${test_keys} ${test_keys}/next)
      add_custom_command(OUTPUT ${dir}/update-key.pem ${dir}/update-key.pub.pem
        COMMAND ${PROJECT_SOURCE_DIR}/tools/publish keygen --force ${dir} > /dev/null
        DEPENDS ${PROJECT_SOURCE_DIR}/tools/publish VERBATIM)
    endforeach()
    add_custom_command(OUTPUT ${test_keys}/include/UpdateKey.h
      COMMAND ${CMAKE_COMMAND} "-DKEY=${test_keys}/update-key.pub.pem$<SEMICOLON>${test_keys}/next/update-key.pub.pem"
              -DOUT=${test_keys}/include/UpdateKey.h -P ${CMAKE_CURRENT_LIST_DIR}/EmbedKey.cmake
      DEPENDS ${test_keys}/update-key.pub.pem ${test_keys}/next/update-key.pub.pem
              ${CMAKE_CURRENT_LIST_DIR}/EmbedKey.cmake VERBATIM)
    update_add_frm(updatefrm_signed ${test_keys}/include ON ${test_keys}/include/UpdateKey.h)
    update_add_program(update_signed updatefrm_signed)
  endif()

  # Stand-in installer libraries: one that records what it receives, one
  # without MakeUpdate and, for the tests, the first importing the second,
  # which then lies beside it (not a Windows DLL: kept out of the shipped
  # build). The 32-bit exports must carry the bare names.
  add_library(update2 SHARED ${CMAKE_CURRENT_LIST_DIR}/testlib/MakeUpdate.cpp)
  add_library(update2_nomake SHARED ${CMAKE_CURRENT_LIST_DIR}/testlib/NoMakeUpdate.cpp)
  set(testlibs update2 update2_nomake)
  if(FK_BUILD_TESTS)
    add_library(update2_helped SHARED ${CMAKE_CURRENT_LIST_DIR}/testlib/MakeUpdate.cpp)
    target_compile_definitions(update2_helped PRIVATE UPDATE2_IMPORTS_HELPER)
    target_link_libraries(update2_helped PRIVATE update2_nomake)
    list(APPEND testlibs update2_helped)
  endif()
  foreach(lib ${testlibs})
    set_target_properties(${lib} PROPERTIES PREFIX "" OUTPUT_NAME ${lib} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/testlib)
    target_compile_options(${lib} PRIVATE ${FK_WARNINGS})
    target_include_directories(${lib} PRIVATE ${PROJECT_SOURCE_DIR}/formkit)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_link_options(${lib} PRIVATE -Wl,--kill-at)
    endif()
  endforeach()
endif()
