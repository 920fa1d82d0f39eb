# Running the watchdog as a service: a systemd user service on POSIX
# (SIGTERM/SIGINT as the stop control, states over the sd_notify socket).
add_library(dl_platform_service_control STATIC
  ${CMAKE_CURRENT_LIST_DIR}/posix/service_control.cpp)
target_link_libraries(dl_platform_service_control PUBLIC Threads::Threads)
