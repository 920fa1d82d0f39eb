#pragma once
// Progress labels of the office conversions ("msword 0", "fopen xls 1", ...).
// They go to a sink that discards them; the calls mark the steps in the code.

#include <string>

namespace office {

void Trace(const char* label);
void Trace(const char* label, const std::u16string& value);

}  // namespace office
