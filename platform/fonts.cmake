# Font family enumeration: fontconfig on POSIX desktops.
dl_library(dl_platform_fonts
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix/fontconfig_fonts.cpp
  DEPENDS dl_base PkgConfig::FONTCONFIG)

# Test double: a collection with the families a test chooses.
dl_library(dl_platform_fonts_fake
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/testing/fake_fonts.cpp
  DEPENDS dl_platform_fonts)
