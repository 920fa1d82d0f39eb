# The automation layer: Variant and driver semantics, the server registry,
# and the recording server the office tests rely on.
add_executable(platform_automation_tests
  ${CMAKE_CURRENT_LIST_DIR}/automation_variant_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/automation_driver_test.cpp)
target_link_libraries(platform_automation_tests PRIVATE dl_platform_automation_recording
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_automation_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
