# Office automation layer: Variant, dispatch driver, server registry.
add_library(dl_platform_automation STATIC ${CMAKE_CURRENT_LIST_DIR}/automation.cpp)
target_link_libraries(dl_platform_automation PUBLIC Threads::Threads PRIVATE dl_platform_utf)

# Test double: an automation server that records every call.
add_library(dl_platform_automation_recording STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/recording_automation_server.cpp)
target_link_libraries(dl_platform_automation_recording PUBLIC dl_platform_automation)
