# The clipboard layer: the contract on the test double and the conversions it
# shares with the X11 backend (unit), and the contract on the X11 backend
# under an Xvfb of the tests' own, with xclip and a silent client as owners
# (integration).
add_executable(platform_clipboard_tests
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_contract_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_fake_test.cpp)
target_link_libraries(platform_clipboard_tests PRIVATE dl_platform_clipboard_fake
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_clipboard_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

# Takes the clipboard and never answers, as a hung application would.
add_executable(clipboard_silent_owner ${CMAKE_CURRENT_LIST_DIR}/clipboard_silent_owner.cpp)
target_link_libraries(clipboard_silent_owner PRIVATE PkgConfig::X11)

add_library(clipboard_x11_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/clipboard_x11_harness.cpp)
target_compile_definitions(clipboard_x11_harness PRIVATE
  DL_CLIPBOARD_SILENT_OWNER="$<TARGET_FILE:clipboard_silent_owner>")
target_link_libraries(clipboard_x11_harness PUBLIC PkgConfig::X11)
add_dependencies(clipboard_x11_harness clipboard_silent_owner)

add_executable(platform_clipboard_x11_tests
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_contract_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_x11_test.cpp)
target_link_libraries(platform_clipboard_x11_tests PRIVATE dl_platform_clipboard_x11 clipboard_x11_harness
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_clipboard_x11_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS integration)

# The clipboard reply of the desktop services on the same X11 setup. Its
# source sits with the desktop tests but is no *_test.cpp, so that the unit
# program there does not take it in.
add_executable(desktop_clipboard_x11_tests
  ${PROJECT_SOURCE_DIR}/tests/desktop/clipboard_reader_x11_integration.cpp)
target_link_libraries(desktop_clipboard_x11_tests PRIVATE dl_desktop dl_platform_clipboard clipboard_x11_harness
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(desktop_clipboard_x11_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS integration)
