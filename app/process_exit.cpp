#include "app/process_exit.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/server_thread.hpp"

namespace {
constexpr std::chrono::milliseconds kServerStopLimit{1000};
}

void EndProcess(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(code);
}

void QuitProcess() {
  if (StopHttpServer(kServerStopLimit)) EndProcess(0);
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(0);
}
