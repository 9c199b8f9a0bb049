# Test registration. Windows test programs run under Wine with a prefix that
# lives in the build tree and is created once per run by a fixture: the 32-bit
# build gets a 32-bit Windows (wine, win32 prefix), the 64-bit one wine64.
set(FK_WINE_LOADER ${PROJECT_SOURCE_DIR}/tools/wine-run)
set(FK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(FK_WINE /usr/lib/wine/wine)
  set(FK_WINEARCH win32)
else()
  set(FK_WINE /usr/lib/wine/wine64)
  set(FK_WINEARCH win64)
endif()
set(FK_TEST_ENV
  WINEPREFIX=${FK_WINEPREFIX}
  FK_WINE=${FK_WINE}
  WINEARCH=${FK_WINEARCH}
  WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree=d\;mshtml=d\;winemenubuilder.exe=d"
  FK_SOURCE_DIR=${PROJECT_SOURCE_DIR}
  FK_BINARY_DIR=${CMAKE_BINARY_DIR})

if(FK_BUILD_TESTS AND CMAKE_CROSSCOMPILING)
  add_test(NAME wine_prefix
    COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-prefix ${FK_WINEPREFIX})
  set_tests_properties(wine_prefix PROPERTIES
    FIXTURES_SETUP wine ENVIRONMENT "${FK_TEST_ENV}" TIMEOUT 300)
endif()

# fk_add_test(NAME name TARGET target [WRAPPER cmd...] [ARGS args...] [TIMEOUT s] [LABELS l...])
# Under the cross build the target runs under Wine; WRAPPER (a script such as the
# update-server runner) goes in front of the loader.
function(fk_add_test)
  cmake_parse_arguments(T "" "NAME;TARGET;TIMEOUT" "WRAPPER;ARGS;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${T_NAME}
      COMMAND ${T_WRAPPER} ${FK_WINE_LOADER} $<TARGET_FILE:${T_TARGET}> ${T_ARGS}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine)
  else()
    add_test(NAME ${T_NAME}
      COMMAND ${T_WRAPPER} $<TARGET_FILE:${T_TARGET}> ${T_ARGS}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    ENVIRONMENT "${FK_TEST_ENV};${T_ENVIRONMENT}" TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# A GoogleTest program: links gtest_main and our warnings.
function(fk_add_gtest target)
  cmake_parse_arguments(G "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${G_SOURCES})
  target_compile_options(${target} PRIVATE ${FK_WARNINGS})
  target_link_libraries(${target} PRIVATE ${G_LIBS} GTest::gtest GTest::gtest_main)
endfunction()

# fk_add_fuzzer(name SOURCES files... INCLUDES dirs...): a libFuzzer target of
# the native clang build (tools/fuzz runs it), built from the sources so the
# code under test carries the fuzzer's coverage instrumentation.
function(fk_add_fuzzer name)
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;INCLUDES" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_include_directories(${name} PRIVATE ${F_INCLUDES})
  target_compile_options(${name} PRIVATE ${FK_WARNINGS} -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
