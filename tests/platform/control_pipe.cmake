# The control pipe layer's contract, run against the POSIX backend.
add_executable(platform_control_pipe_tests
  ${CMAKE_CURRENT_LIST_DIR}/control_pipe_contract_test.cpp)
target_link_libraries(platform_control_pipe_tests PRIVATE dl_platform_control_pipe
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_control_pipe_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
