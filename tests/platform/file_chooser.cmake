# The file chooser layer: the zenity backend driven through stand-in programs
# and the test double (unit), and the real zenity on an Xvfb display of the
# test's own, answered with xdotool (integration).
add_executable(platform_file_chooser_tests ${CMAKE_CURRENT_LIST_DIR}/file_chooser_zenity_test.cpp)
target_link_libraries(platform_file_chooser_tests PRIVATE dl_platform_file_chooser_fake
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_file_chooser_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

add_executable(platform_file_chooser_display_tests ${CMAKE_CURRENT_LIST_DIR}/file_chooser_display_test.cpp)
target_link_libraries(platform_file_chooser_display_tests PRIVATE dl_platform_file_chooser dl_platform_windows
  top_level_windows_x11_harness GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_file_chooser_display_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS integration)
