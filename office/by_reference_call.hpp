#pragma once
// Word's Documents.Open and Document.SaveAs take 16 VARIANTs by reference,
// most of them omitted: one call shape for all three call sites.

#include <vector>

#include "platform/automation.hpp"

namespace office {

// A VARIANT passed by reference, as Word's optional arguments are.
inline constexpr Automation::VARTYPE kByRef = Automation::VT_VARIANT | Automation::VT_BYREF;

// Calls `dispid` of `driver` as a method with `args` (16 of them, each a
// VARIANT the call may write through), asking for `resultType` in `result`.
inline void InvokeWith16ByRef(Automation::DispatchDriver& driver, Automation::DISPID dispid,
                              Automation::VARTYPE resultType, void* result,
                              const std::vector<Automation::Variant*>& args) {
  std::vector<Automation::Argument> passed(args.begin(), args.end());
  driver.InvokeHelperV(dispid, Automation::DISPATCH_METHOD, resultType, result,
                       std::vector<Automation::VARTYPE>(args.size(), kByRef), passed);
}

}  // namespace office
