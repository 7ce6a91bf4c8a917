# Hostile input for every program: the malformed-input corpus and its driver.
add_executable(test-malformed ${CMAKE_CURRENT_LIST_DIR}/malformed_test.cpp)
target_link_libraries(test-malformed PRIVATE testsupport GTest::gtest_main)
foreach(prog IN LISTS SIGTOOLS_PROGRAMS)
  if(TARGET ${prog})
    add_dependencies(test-malformed ${prog})
  endif()
endforeach()
gtest_discover_tests(test-malformed
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}
  DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 LABELS malformed)
