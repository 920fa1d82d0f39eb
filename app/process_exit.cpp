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
#ifdef DL_HAVE_LIBREOFFICE
  // The document engine is ended here, not by static destructors: those
  // would run while the engine's bridge threads still react to the office
  // going away, and a crash at exit would replace the exit code.
  platform::libreoffice::StopSharedEngine();
#endif
  std::_Exit(code);
}

void QuitProcess() {
  // A server thread held up in a request is not waited for beyond the limit;
  // nothing after this point depends on it.
  StopHttpServer(kServerStopLimit);
  EndProcess(0);
}
