# Run in script mode after a test program is built (see zv_postgres_tests in
# zorvane.cmake): writes CTEST_FILE with one CTest entry per test of
# TEST_EXECUTABLE that TEST_FILTER selects, each run as
#   TEST_WRAPPER TEST_EXECUTABLE --gtest_filter=Suite.Test
# and named TEST_PREFIX + Suite.Test. A test that skips itself (no cluster to
# be had) shows as skipped; a filter that selects nothing fails the test.
execute_process(
  COMMAND "${TEST_EXECUTABLE}" --gtest_list_tests "--gtest_filter=${TEST_FILTER}"
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE result
  TIMEOUT 60)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} --gtest_list_tests failed (${result}):\n${output}${errors}")
endif()

set(script "")
set(suite "")
string(REPLACE "\n" ";" lines "${output}")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ #]+)\\.( +#.*)?$")
    # "Suite." (a typed suite carries "  # TypeParam = ...").
    set(suite "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^  ([^ #]+)" AND NOT suite STREQUAL "")
    # "  Test" or "  Test/param  # GetParam() = ...".
    set(test "${suite}.${CMAKE_MATCH_1}")
    set(entry "${TEST_PREFIX}${test}")
    string(APPEND script
      "add_test([==[${entry}]==] [==[${TEST_WRAPPER}]==] [==[${TEST_EXECUTABLE}]==] "
      "[==[--gtest_filter=${test}]==])\n"
      "set_tests_properties([==[${entry}]==] PROPERTIES LABELS [==[${TEST_LABELS}]==] "
      "TIMEOUT ${TEST_TIMEOUT} "
      "SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==] "
      "FAIL_REGULAR_EXPRESSION [==[\\] 0 tests from 0 test suites ran]==])\n")
  endif()
endforeach()
if(script STREQUAL "")
  message(FATAL_ERROR "${TEST_EXECUTABLE}: no test matches ${TEST_FILTER}")
endif()
file(WRITE "${CTEST_FILE}" "${script}")
