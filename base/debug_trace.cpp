#include "base/debug_trace.hpp"

#include <cstdio>
#include <mutex>

void WriteDebugTrace(const char* area, const std::string& what) {
  // Lines of several threads must not interleave.
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  std::fprintf(stderr, "docklane[%s]: %s\n", area, what.c_str());
  std::fflush(stderr);
}
