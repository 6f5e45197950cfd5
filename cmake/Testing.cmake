enable_testing()
include(GoogleTest)

# camstack_test(NAME <name> LABEL unit|integration|kernel SOURCES ... [LIBS ...]
#               [ENV VAR=VALUE ...])
# A GoogleTest program registered with CTest, one CTest entry per test case.
function(camstack_test)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  if(SANITIZE MATCHES "address")
    target_sources(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/lsan_suppressions.cpp)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  if(NOT T_LIBS MATCHES "GTest::gtest_main|test_support_bus_main")
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${T_LABEL} TIMEOUT 300 ENVIRONMENT "${T_ENV}")
endfunction()
