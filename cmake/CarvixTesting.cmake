# carvix_unit_test(NAME SOURCES... LIBS...) adds a GoogleTest binary labelled "unit".
function(carvix_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  # No test pops up a desktop dialog unless it asks for one.
  set_tests_properties(${name} PROPERTIES LABELS unit ENVIRONMENT "CARVIX_DIALOG=off")
endfunction()

# carvix_fuzz_target(NAME SOURCES... LIBS...) adds a libFuzzer binary when CARVIX_FUZZ is on,
# and a ctest entry "fuzz.NAME" that runs it for a bounded time.
set(CARVIX_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs under ctest")
function(carvix_fuzz_target name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT CARVIX_FUZZ)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  # New inputs go to the build's corpus; the kept corpus (scripts/fuzz) is read as well.
  set(kept)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
    set(kept ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
  endif()
  add_test(NAME fuzz.${name}
           COMMAND ${name} -max_total_time=${CARVIX_FUZZ_SECONDS} -rss_limit_mb=2048
                   ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus ${kept})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
endfunction()

# carvix_integration_test(NAME [SANITIZE] SOURCES... LIBS...) adds a GoogleTest binary
# labelled "integration" that runs against the test bench (pcscd with private vpcd readers and
# the virtual card; see tests/integration/testbench/bench_card.h). It needs the ctest fixture that
# starts the bench; where the bench cannot run, the test exits 77 and is reported skipped.
# SANITIZE adds the label "sanitize": the test is one of the read and write paths that
# scripts/test runs again in the asan build (keep those short).
set(CARVIX_BENCH_DIR ${CMAKE_BINARY_DIR}/ctest-bench)
function(carvix_integration_test name)
  cmake_parse_arguments(T "SANITIZE" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} carvix_bench)
  add_test(NAME ${name} COMMAND ${name})
  set(labels integration)
  if(T_SANITIZE)
    list(APPEND labels sanitize)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" SKIP_RETURN_CODE 77
                       FIXTURES_REQUIRED carvix_bench TIMEOUT 600
                       ENVIRONMENT "CARVIX_BENCH_DIR=${CARVIX_BENCH_DIR};CARVIX_DIALOG=off")
endfunction()
