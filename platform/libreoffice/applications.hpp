// The three emulated Office applications, each a new application object
// with one reference owned by the caller.
#pragma once

#include <memory>

#include "platform/automation.hpp"
#include "platform/libreoffice/engine.hpp"

namespace platform::libreoffice {

// A visible Word shows its documents for editing in the shared visible engine.
Automation::DispatchObject* CreateWordApplication(std::shared_ptr<Engine> engine);
Automation::DispatchObject* CreateExcelApplication(std::shared_ptr<Engine> engine);
Automation::DispatchObject* CreatePowerPointApplication(std::shared_ptr<Engine> engine);

}  // namespace platform::libreoffice
