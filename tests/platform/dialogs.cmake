# The dialogs layer: the zenity backend driven through stand-in programs
# (unit), and the real zenity on an Xvfb display of the test's own.
add_executable(platform_dialogs_tests ${CMAKE_CURRENT_LIST_DIR}/dialogs_zenity_test.cpp)
target_link_libraries(platform_dialogs_tests PRIVATE dl_platform_dialogs_fake
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_dialogs_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS unit)

add_executable(platform_dialogs_display_tests ${CMAKE_CURRENT_LIST_DIR}/dialogs_display_test.cpp)
target_link_libraries(platform_dialogs_display_tests PRIVATE dl_platform_dialogs PkgConfig::X11
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_dialogs_display_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS integration)
