#include "platform/libreoffice/servers.hpp"

#include "platform/automation.hpp"
#include "platform/libreoffice/applications.hpp"
#include "platform/libreoffice/engine.hpp"

namespace platform::libreoffice {

namespace {

using Creator = Automation::DispatchObject* (*)(std::shared_ptr<Engine>);

Automation::AutomationServerFactory Factory(std::shared_ptr<Engine> engine, Creator create) {
  return [engine, create]() -> Automation::DispatchObject* {
    std::shared_ptr<Engine> e = engine ? engine : Engine::Shared();
    // No office, no application; the office itself starts with the first
    // document, not here.
    if (!e->Installed()) return nullptr;
    return create(e);
  };
}

}  // namespace

void RegisterLibreOfficeServers(std::shared_ptr<Engine> engine) {
  Automation::RegisterAutomationServer("Word.Application", Factory(engine, &CreateWordApplication));
  Automation::RegisterAutomationServer("Excel.Application", Factory(engine, &CreateExcelApplication));
  Automation::RegisterAutomationServer("PowerPoint.Application", Factory(engine, &CreatePowerPointApplication));
}

void UnregisterLibreOfficeServers() {
  Automation::UnregisterAutomationServer("Word.Application");
  Automation::UnregisterAutomationServer("Excel.Application");
  Automation::UnregisterAutomationServer("PowerPoint.Application");
}

}  // namespace platform::libreoffice
