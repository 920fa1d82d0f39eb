# The top-level window layer: the contract on the test double (unit), and on
# the X11 backend under an Xvfb of the tests' own, once without a window
# manager and once with openbox (integration).
add_executable(platform_top_level_windows_tests
  ${CMAKE_CURRENT_LIST_DIR}/top_level_windows_contract_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/top_level_windows_fake_test.cpp)
target_link_libraries(platform_top_level_windows_tests PRIVATE dl_platform_windows_fake dl_platform_windows
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_top_level_windows_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

# Xvfb, openbox and a window-making client of the tests' own.
add_library(top_level_windows_x11_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/top_level_windows_x11_harness.cpp)
target_link_libraries(top_level_windows_x11_harness PUBLIC PkgConfig::X11)

add_executable(platform_top_level_windows_x11_tests
  ${CMAKE_CURRENT_LIST_DIR}/top_level_windows_contract_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/top_level_windows_x11_test.cpp)
target_link_libraries(platform_top_level_windows_x11_tests PRIVATE dl_platform_windows
  top_level_windows_x11_harness GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_top_level_windows_x11_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS integration)
