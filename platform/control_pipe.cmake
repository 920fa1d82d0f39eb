# The control pipe between Docklane and its watchdog: a SOCK_SEQPACKET Unix
# socket on POSIX.
dl_library(dl_platform_control_pipe
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix/control_pipe.cpp
  DEPENDS dl_base Threads::Threads)
