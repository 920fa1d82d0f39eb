# Version of the installed document engine: LibreOffice's install tree on
# POSIX desktops.
dl_library(dl_platform_office_version
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix/office_version_posix.cpp)

# Test double: a registration the test chooses.
dl_library(dl_platform_office_version_fake
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/testing/fake_office_version.cpp
  DEPENDS dl_platform_office_version)
