# Top-level windows: X11 (EWMH when a window manager runs), with Xlib.
add_library(dl_platform_windows STATIC
  ${CMAKE_CURRENT_LIST_DIR}/top_level_windows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/top_level_windows.cpp)
target_link_libraries(dl_platform_windows PUBLIC PkgConfig::X11 Threads::Threads)

# Test double: windows kept in memory.
add_library(dl_platform_windows_fake STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/fake_top_level_windows.cpp)
target_link_libraries(dl_platform_windows_fake PUBLIC dl_platform_windows)
