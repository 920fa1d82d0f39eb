// Traces of failures that the program otherwise handles in silence: the HTTP
// core's transport errors, the control pipe, the clipboard, the office
// engine. A build configured with -DDL_DEBUG_TRACE=ON writes them to
// standard error, one line each; any other build compiles them out, so the
// programs keep taking no run-time configuration.
#pragma once

#include <string>

// One line "docklane[<area>]: <what>" on standard error.
void WriteDebugTrace(const char* area, const std::string& what);

#if defined(DL_DEBUG_TRACE) && DL_DEBUG_TRACE
#define DL_TRACE(area, what) ::WriteDebugTrace((area), (what))
#else
// `what` is not evaluated.
#define DL_TRACE(area, what) ((void)0)
#endif
