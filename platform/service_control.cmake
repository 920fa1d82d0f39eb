# Running the watchdog as a service: a systemd user service on POSIX
# (SIGTERM/SIGINT as the stop control, states over the sd_notify socket).
dl_library(dl_platform_service_control
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix/service_control.cpp
  DEPENDS Threads::Threads)
