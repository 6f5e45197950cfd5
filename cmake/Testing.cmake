enable_testing()
include(GoogleTest)

# camstack_test(NAME <name> LABEL unit|integration|kernel SOURCES ... [LIBS ...]
#               [ENV VAR=VALUE ...] [SERIAL])
# A GoogleTest program registered with CTest, one CTest entry per test case.
# SERIAL runs its cases alone: daemons whose frame clock a test steps on
# a deadline must not compete with the rest of the suite for the CPU.
function(camstack_test)
  cmake_parse_arguments(T "SERIAL" "NAME;LABEL" "SOURCES;LIBS;ENV" ${ARGN})
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
  # An empty value would take the next word as its own: ENVIRONMENT and
  # RUN_SERIAL go in only when given.
  set(props LABELS ${T_LABEL} TIMEOUT 300)
  if(T_ENV)
    list(APPEND props ENVIRONMENT "${T_ENV}")
  endif()
  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()

# The camera library's prepare reads colour-correction files from
# "/lib/firmware" under the root prefix (VISTRAD_ROOT). The build writes
# neutral ones (target cl_cc_firmware) into a root of their own:
# CAMSTACK_CC_FIRMWARE_ROOT, with the files in its lib/firmware.
set(CAMSTACK_CC_FIRMWARE_ROOT ${PROJECT_BINARY_DIR}/cc-firmware)

# camstack_cc_firmware(<target>)
# The target is built after the files and gets CL_CC_FIRMWARE_ROOT: point
# VISTRAD_ROOT at it, or install the files into a root of the test's own
# with tests/support/cc_firmware.h.
function(camstack_cc_firmware target)
  add_dependencies(${target} cl_cc_firmware)
  target_compile_definitions(${target} PRIVATE CL_CC_FIRMWARE_ROOT="${CAMSTACK_CC_FIRMWARE_ROOT}")
endfunction()
