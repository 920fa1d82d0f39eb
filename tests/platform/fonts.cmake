# The font layer: contract tests against every backend, and the fontconfig
# backend on a font folder of the test's own.
add_executable(platform_fonts_tests
  ${CMAKE_CURRENT_LIST_DIR}/fonts_contract_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fonts_fontconfig_test.cpp)
target_link_libraries(platform_fonts_tests PRIVATE dl_platform_fonts_fake PkgConfig::FONTCONFIG
  GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_fonts_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
