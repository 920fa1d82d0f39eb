#pragma once
// An object returned by an automation call is attached to a temporary driver
// that owns it, copied into the holding member (which adds a reference), and
// the temporary is released, so the member ends up with the one reference.

#include "platform/automation.hpp"

namespace office {

inline void StoreObjectResult(Automation::DispatchDriver& member, Automation::DispatchObject* result) {
  Automation::DispatchDriver temporary;
  temporary.AttachDispatch(result);
  member = temporary;
  temporary.ReleaseDispatch();
}

}  // namespace office
