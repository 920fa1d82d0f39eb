# Font family enumeration: fontconfig on POSIX desktops.
add_library(dl_platform_fonts STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fonts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/fontconfig_fonts.cpp)
target_link_libraries(dl_platform_fonts PUBLIC PkgConfig::FONTCONFIG PRIVATE dl_platform_utf)

# Test double: a collection with the families a test chooses.
add_library(dl_platform_fonts_fake STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/fake_fonts.cpp)
target_link_libraries(dl_platform_fonts_fake PUBLIC dl_platform_fonts)
