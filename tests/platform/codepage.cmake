# The code-page layer: contract tests against the platform backend. Locales
# are built on demand into the build tree (LOCPATH), not into the machine.
add_executable(platform_codepage_tests ${CMAKE_CURRENT_LIST_DIR}/codepage_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codepage_utf8_test.cpp)
target_compile_definitions(platform_codepage_tests PRIVATE
  DL_TEST_LOCALE_DIR="${CMAKE_BINARY_DIR}/test_locales")
target_link_libraries(platform_codepage_tests PRIVATE dl_platform_codepage
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_codepage_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
