# The UTF-8/UTF-16 codec the platform layers share.
add_executable(platform_utf_tests ${CMAKE_CURRENT_LIST_DIR}/utf_test.cpp)
target_link_libraries(platform_utf_tests PRIVATE dl_platform_utf
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_utf_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
