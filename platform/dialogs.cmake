# Message boxes: zenity on POSIX desktops.
add_library(dl_platform_dialogs STATIC
  ${CMAKE_CURRENT_LIST_DIR}/dialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/zenity_dialogs.cpp)

# Test double: records the texts instead of showing them.
add_library(dl_platform_dialogs_fake STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/fake_dialogs.cpp)
target_link_libraries(dl_platform_dialogs_fake PUBLIC dl_platform_dialogs)
