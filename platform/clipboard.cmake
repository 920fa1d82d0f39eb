# Clipboard: the CLIPBOARD selection of X11 desktops, read with Xlib.
add_library(dl_platform_clipboard STATIC
  ${CMAKE_CURRENT_LIST_DIR}/clipboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/clipboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/clipboard_targets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/clipboard_html_format.cpp)
target_link_libraries(dl_platform_clipboard PUBLIC PkgConfig::X11 Threads::Threads PRIVATE dl_platform_utf)

# Test double: an owner offering what a test gives it.
add_library(dl_platform_clipboard_fake STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/fake_clipboard.cpp)
target_link_libraries(dl_platform_clipboard_fake PUBLIC dl_platform_clipboard)
