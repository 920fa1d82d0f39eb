# Open-file chooser: zenity (a GTK chooser run as a child) on POSIX desktops.
add_library(dl_platform_file_chooser STATIC
  ${CMAKE_CURRENT_LIST_DIR}/file_chooser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/zenity_file_chooser.cpp)

# Test double: answers as scripted and records what it was asked.
add_library(dl_platform_file_chooser_fake STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/fake_file_chooser.cpp)
target_link_libraries(dl_platform_file_chooser_fake PUBLIC dl_platform_file_chooser)
