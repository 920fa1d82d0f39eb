# Open-file chooser: zenity (a GTK chooser run as a child) on POSIX desktops.
dl_library(dl_platform_file_chooser
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix/zenity_file_chooser.cpp)

# Test double: answers as scripted and records what it was asked.
dl_library(dl_platform_file_chooser_fake
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/testing/fake_file_chooser.cpp
  DEPENDS dl_platform_file_chooser)
