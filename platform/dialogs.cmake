# Message boxes: zenity on POSIX desktops.
dl_library(dl_platform_dialogs
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix/zenity_dialogs.cpp)

# Test double: records the texts instead of showing them.
dl_library(dl_platform_dialogs_fake
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/testing/fake_dialogs.cpp
  DEPENDS dl_platform_dialogs)
