# Version of the installed document engine: LibreOffice's install tree on
# POSIX desktops.
add_library(dl_platform_office_version STATIC
  ${CMAKE_CURRENT_LIST_DIR}/office_version.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/office_version_posix.cpp)

# Test double: a registration the test chooses.
add_library(dl_platform_office_version_fake STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/fake_office_version.cpp)
target_link_libraries(dl_platform_office_version_fake PUBLIC dl_platform_office_version)
