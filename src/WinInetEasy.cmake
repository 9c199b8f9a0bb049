# The download client. Its URL, agent-name and proxy-port rules are free of
# Win32, so the native build has the library too (for the sanitizer tests).
add_library(wininet_easy STATIC ${CMAKE_CURRENT_LIST_DIR}/WinInetEasy.cpp ${CMAKE_CURRENT_LIST_DIR}/FailureCause.cpp)
target_include_directories(wininet_easy PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(wininet_easy PRIVATE ${FK_WARNINGS})
target_link_libraries(wininet_easy PUBLIC formkit)
if(WIN32)
  target_sources(wininet_easy PRIVATE ${CMAKE_CURRENT_LIST_DIR}/WinInetEasy_win.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/WinInetNet_win.cpp)
  target_link_libraries(wininet_easy PUBLIC wininet)
endif()
