// The three emulated Office applications, each a new application object
// with one reference owned by the caller.
#pragma once

#include <memory>

#include "platform/automation.hpp"
#include "platform/libreoffice/engine.hpp"

namespace platform::libreoffice {

// Word shows documents for editing in the engine `editingEngine` gives
// (the shared visible one when empty), taken only when first needed.
Automation::DispatchObject* CreateWordApplication(std::shared_ptr<Engine> engine, EngineSource editingEngine = {});
Automation::DispatchObject* CreateExcelApplication(std::shared_ptr<Engine> engine);
Automation::DispatchObject* CreatePowerPointApplication(std::shared_ptr<Engine> engine);

}  // namespace platform::libreoffice
