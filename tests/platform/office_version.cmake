# The office version layer: contract tests against every backend, and the
# LibreOffice backend on install trees of the test's own.
add_executable(platform_office_version_tests
  ${CMAKE_CURRENT_LIST_DIR}/office_version_contract_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/office_version_posix_test.cpp)
target_link_libraries(platform_office_version_tests PRIVATE dl_platform_office_version_fake
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_office_version_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
