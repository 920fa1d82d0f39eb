#pragma once
// Progress labels of the office conversions ("msword 0", "fopen xls 1", ...).
// The calls mark the steps in the code, and a debug-trace build shows them.
// The last label of the calling thread is kept, so that a failed conversion
// can say at which step it failed.

#include <string>

namespace office {

void Trace(const char* label);
void Trace(const char* label, const std::u16string& value);

// The last label traced on this thread ("" before the first), and a reset
// for the start of a new piece of work.
const char* LastTraceLabel();
void ResetTraceLabel();

}  // namespace office
