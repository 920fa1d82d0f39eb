# Clipboard: what every backend shares (choosing among what an owner offers,
# the "HTML Format" description), the X11 backend on the CLIPBOARD selection
# read with Xlib, and a test double that knows nothing of X11.
dl_library(dl_platform_clipboard
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/clipboard_targets.cpp
    ${CMAKE_CURRENT_LIST_DIR}/clipboard_html_format.cpp
  DEPENDS dl_base)

dl_library(dl_platform_clipboard_x11
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/x11/clipboard.cpp
  DEPENDS dl_platform_clipboard dl_platform_xlib PkgConfig::X11 Threads::Threads)

# Test double: an owner offering what a test gives it.
dl_library(dl_platform_clipboard_fake
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/testing/fake_clipboard.cpp
  DEPENDS dl_platform_clipboard)
