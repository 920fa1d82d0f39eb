#include "office/office_trace.hpp"

#include "base/debug_trace.hpp"

namespace office {
namespace {

thread_local const char* g_lastLabel = "";

}  // namespace

void Trace(const char* label) {
  g_lastLabel = label ? label : "";
  DL_TRACE("office", g_lastLabel);
}

void Trace(const char* label, const std::u16string& /*value*/) { Trace(label); }

const char* LastTraceLabel() { return g_lastLabel; }

void ResetTraceLabel() { g_lastLabel = ""; }

}  // namespace office
