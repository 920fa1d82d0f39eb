#include "app/process_exit.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/server_thread.hpp"
#ifdef DL_HAVE_LIBREOFFICE
#include "platform/libreoffice/engine.hpp"
#endif

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
#ifdef DL_HAVE_LIBREOFFICE
  // The engine stops itself in a static destructor, which this exit skips.
  platform::libreoffice::StopSharedEngine();
#endif
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(0);
}
