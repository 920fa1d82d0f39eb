# The service control layer: sd_notify datagrams and the stop control.
add_executable(platform_service_control_tests
  ${CMAKE_CURRENT_LIST_DIR}/service_control_test.cpp)
target_link_libraries(platform_service_control_tests PRIVATE dl_platform_service_control
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_service_control_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
