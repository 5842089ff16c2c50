# Helpers shared by every folder.
#
# Sources are globbed per folder (with CONFIGURE_DEPENDS, so a new file is
# picked up by the next build): every *.cc of an engine folder goes into the
# engine library, every *_test.cc into that folder's test program.

# zv_sources(OUT DIR): the non-test, non-bench sources of DIR.
function(zv_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cc)
  list(FILTER srcs EXCLUDE REGEX "_(test|bench|fuzz)\\.cc$")
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# zv_test_program(NAME DIR [THREADS] [LIBS ...] [POSTGRES_TESTS FILTER]): one
# GoogleTest program from DIR/*_test.cc, registered with CTest one test per
# entry (NAME.Suite.Test). THREADS labels its tests "threads" (the
# ThreadSanitizer run covers them); the others are "unit". The tests the
# gtest filter FILTER selects need PostgreSQL: each runs inside
# scripts/with-postgres (its own throw-away cluster, named in
# ZV_TEST_POSTGRES_URL), with a time limit of ZV_POSTGRES_TEST_TIMEOUT
# seconds.
set(ZV_POSTGRES_TEST_TIMEOUT 900)
function(zv_test_program name dir)
  cmake_parse_arguments(ZT "THREADS" "POSTGRES_TESTS" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*_test.cc)
  if(NOT tests)
    return()
  endif()
  add_executable(${name} ${tests})
  target_link_libraries(${name} PRIVATE ${ZT_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(labels unit)
  if(ZT_THREADS)
    set(labels threads)
  endif()
  set(filter)
  if(ZT_POSTGRES_TESTS)
    set(filter "-${ZT_POSTGRES_TESTS}")
    zv_postgres_tests(${name} "${ZT_POSTGRES_TESTS}" "${labels}")
  endif()
  # NO_PRETTY_VALUES: a parameterised test keeps its own name
  # (Suite.Test/param), without the printed parameter value.
  gtest_discover_tests(${name}
    NO_PRETTY_VALUES
    TEST_PREFIX "${name}."
    TEST_FILTER "${filter}"
    PROPERTIES LABELS "${labels}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# zv_postgres_tests(TARGET FILTER LABELS): after each build of TARGET, lists
# its tests that FILTER selects (cmake/zv_postgres_tests.cmake) and registers
# each as TARGET.Suite.Test run through scripts/with-postgres (which starts
# one cluster at a time, so these entries may run in parallel).
function(zv_postgres_tests target filter labels)
  set(base "${CMAKE_CURRENT_BINARY_DIR}/${target}_postgres")
  add_custom_command(TARGET ${target} POST_BUILD
    BYPRODUCTS "${base}_tests.cmake"
    COMMAND "${CMAKE_COMMAND}"
            -D "TEST_EXECUTABLE=$<TARGET_FILE:${target}>"
            -D "TEST_FILTER=${filter}"
            -D "TEST_PREFIX=${target}."
            -D "TEST_WRAPPER=${PROJECT_SOURCE_DIR}/scripts/with-postgres"
            -D "TEST_LABELS=${labels}"
            -D "TEST_TIMEOUT=${ZV_POSTGRES_TEST_TIMEOUT}"
            -D "CTEST_FILE=${base}_tests.cmake"
            -P "${PROJECT_SOURCE_DIR}/cmake/zv_postgres_tests.cmake"
    VERBATIM)
  file(WRITE "${base}_include.cmake"
    "if(EXISTS \"${base}_tests.cmake\")\n"
    "  include(\"${base}_tests.cmake\")\n"
    "else()\n"
    "  add_test(${target}_postgres_NOT_BUILT ${target}_postgres_NOT_BUILT)\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${base}_include.cmake")
endfunction()
