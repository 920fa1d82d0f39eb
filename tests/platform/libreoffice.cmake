# Tests of the LibreOffice automation servers against the real office
# (label "libreoffice": they start soffice, so they do not run under the
# sanitizers). Each test runs in its own process with its own HOME and
# XDG_RUNTIME_DIR (see libreoffice_test_main.cpp).
if(NOT DL_LIBREOFFICE)
  return()
endif()
add_executable(platform_libreoffice_tests
  ${CMAKE_CURRENT_LIST_DIR}/libreoffice_engine_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/libreoffice_layout_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/libreoffice_office_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/libreoffice_servers_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/libreoffice_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/libreoffice_test_support.cpp)
target_link_libraries(platform_libreoffice_tests PRIVATE dl_platform_libreoffice dl_office dl_export
  GTest::gtest Threads::Threads)
gtest_discover_tests(platform_libreoffice_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS "libreoffice" TIMEOUT 120)
