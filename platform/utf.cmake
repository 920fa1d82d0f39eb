# UTF-8 <-> UTF-16 conversions used by several layers; no OS dependencies.
add_library(dl_platform_utf STATIC ${CMAKE_CURRENT_LIST_DIR}/utf.cpp)
