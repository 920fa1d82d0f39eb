# Office automation layer: Variant, dispatch driver, server registry.
dl_library(dl_platform_automation
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/automation.cpp ${CMAKE_CURRENT_LIST_DIR}/automation_variant.cpp
  DEPENDS dl_base Threads::Threads)

# Test double: an automation server that records every call.
dl_library(dl_platform_automation_recording
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/testing/recording_automation_server.cpp
  DEPENDS dl_platform_automation)
