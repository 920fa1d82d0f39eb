# The control pipe between Docklane and its watchdog: a SOCK_SEQPACKET Unix
# socket on POSIX.
add_library(dl_platform_control_pipe STATIC
  ${CMAKE_CURRENT_LIST_DIR}/posix/control_pipe.cpp)
target_link_libraries(dl_platform_control_pipe PUBLIC Threads::Threads)
