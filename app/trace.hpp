// Progress labels of the shell ("dialog opened", the pipe's creation
// errors): the calls mark the steps, and a debug-trace build shows them.
#pragma once

#include "base/debug_trace.hpp"

inline void ShellTrace(const char* label) {
  (void)label;
  DL_TRACE("shell", label);
}
