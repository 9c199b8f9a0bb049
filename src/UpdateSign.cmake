# Signed update sets. The signature, key and update.ini parsing is free of
# Win32 and builds natively for the sanitizer tests and the fuzzer; the
# bcrypt part compiles only for Windows.
add_library(update_sign STATIC ${CMAKE_CURRENT_LIST_DIR}/UpdateSign.cpp)
if(WIN32)
  target_sources(update_sign PRIVATE ${CMAKE_CURRENT_LIST_DIR}/UpdateSign_win.cpp)
  target_link_libraries(update_sign PRIVATE formkit)  # its scoped owners
endif()
target_include_directories(update_sign PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(update_sign PRIVATE ${FK_WARNINGS})
