# dl_library(<target> SOURCES <file>... [DEPENDS <target>...])
# A static library of the listed sources. Headers are named by their folder
# (#include "http/server.hpp"); which folder may include which is checked by
# cmake/check_arrows.cmake, not left to include paths.
function(dl_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
endfunction()

# dl_unit_tests(<target> SOURCES <file>... DEPENDS <target>... [LABELS <label>...])
# One GoogleTest program, labelled "unit" (and LABELS), run under the
# sanitizers in CI.
function(dl_unit_tests target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main Threads::Threads)
  set(_labels unit ${ARG_LABELS})
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${_labels}")
endfunction()
