# Top-level windows: X11 (EWMH when a window manager runs), with Xlib.
dl_library(dl_platform_windows
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/x11/top_level_windows.cpp
  DEPENDS dl_base dl_platform_xlib PkgConfig::X11 Threads::Threads)

# Test double: windows kept in memory; it knows nothing of X11.
dl_library(dl_platform_windows_fake
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/testing/fake_top_level_windows.cpp
  DEPENDS dl_base)
