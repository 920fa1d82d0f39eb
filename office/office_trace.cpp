#include "office/office_trace.hpp"

namespace office {

void Trace(const char* /*label*/) {}

void Trace(const char* /*label*/, const std::u16string& /*value*/) {}

}  // namespace office
