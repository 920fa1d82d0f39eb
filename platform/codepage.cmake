# Code page conversions keyed by Windows code page numbers: iconv on POSIX.
add_library(dl_platform_codepage STATIC
  ${CMAKE_CURRENT_LIST_DIR}/posix/codepage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/codepage_system.cpp)
target_link_libraries(dl_platform_codepage PRIVATE dl_platform_utf)
