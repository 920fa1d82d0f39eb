# Code page conversions keyed by Windows code page numbers: iconv on POSIX.
dl_library(dl_platform_codepage
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/codepage_utf8.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/codepage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/codepage_system.cpp
  DEPENDS dl_base)
