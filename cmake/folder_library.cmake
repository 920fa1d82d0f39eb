# dl_folder_library(<target> [EXCLUDE <file>...] [LINK <lib>...])
# Builds a static library from the folder's own .cpp files, so that adding a
# source file needs no edit here. A folder without sources yet gives an
# interface library, which keeps dependents linking.
function(dl_folder_library target)
  cmake_parse_arguments(ARG "" "" "EXCLUDE;LINK" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex ${ARG_EXCLUDE})
    list(REMOVE_ITEM _srcs ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(_srcs)
    add_library(${target} STATIC ${_srcs})
    target_link_libraries(${target} PUBLIC ${ARG_LINK})
  else()
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${ARG_LINK})
  endif()
endfunction()

# dl_unit_tests(<target> LINK <lib>...): one GoogleTest program from the
# folder's *_test.cpp files, labelled "unit".
function(dl_unit_tests target)
  cmake_parse_arguments(ARG "" "" "LINK;LABELS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(${target} ${_srcs})
  target_link_libraries(${target} PRIVATE ${ARG_LINK} GTest::gtest GTest::gtest_main Threads::Threads)
  set(_labels unit ${ARG_LABELS})
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${_labels}")
endfunction()
