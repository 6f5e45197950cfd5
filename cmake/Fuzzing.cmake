# FUZZ builds the fuzz targets under fuzz/ with libFuzzer; clang is needed.
# Without it each target is linked with a replay main instead and registered
# as a test that runs every input stored in its corpus.
option(FUZZ "Build the fuzz targets with libFuzzer (needs clang)" OFF)
if(FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "FUZZ needs clang: -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Everything is instrumented for coverage; only the targets get libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
add_custom_target(fuzz_targets)

# camstack_fuzz(NAME <target> SOURCES ... [LIBS ...])
# The program fuzz_<target>; its corpus is fuzz/corpus/<target>/.
function(camstack_fuzz)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  set(exe fuzz_${F_NAME})
  add_executable(${exe} ${F_SOURCES})
  target_link_libraries(${exe} PRIVATE ${F_LIBS})
  add_dependencies(fuzz_targets ${exe})
  if(FUZZ OR SANITIZE MATCHES "address")
    target_sources(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/lsan_suppressions.cpp)
  endif()
  if(FUZZ)
    target_link_options(${exe} PRIVATE -fsanitize=fuzzer)
    return()
  endif()
  target_sources(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  add_test(NAME ${exe}_replay COMMAND ${exe} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${F_NAME})
  set_tests_properties(${exe}_replay PROPERTIES LABELS unit TIMEOUT 300)
endfunction()
