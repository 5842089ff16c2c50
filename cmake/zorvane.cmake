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

# zv_test_program(NAME DIR [THREADS] [LIBS ...]): one GoogleTest program
# from DIR/*_test.cc, registered with CTest. THREADS labels its tests
# "threads" (the ThreadSanitizer run covers them); the others are "unit".
function(zv_test_program name dir)
  cmake_parse_arguments(ZT "THREADS" "" "LIBS" ${ARGN})
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
  gtest_discover_tests(${name}
    TEST_PREFIX "${name}."
    PROPERTIES LABELS "${labels}"
    DISCOVERY_TIMEOUT 60)
endfunction()
