// The automation servers "Word.Application", "Excel.Application" and
// "PowerPoint.Application" on LibreOffice. They honour exactly the members
// the office code calls (see the member tables in the server sources); any
// other member fails as an automation call fails.
//
// "Quit" ends the emulated application: its open documents are closed and its
// objects refuse further calls. The LibreOffice process itself stays warm
// for the next conversion and ends after a long idle time or with the program.
#pragma once

#include <memory>

namespace platform::libreoffice {

class Engine;

// Registers the three servers with the automation layer, all sharing
// `engine` (the process-wide engine when null); a visible Word shows its
// documents in the process-wide visible engine.
// When LibreOffice is not installed, creating any of them fails.
void RegisterLibreOfficeServers(std::shared_ptr<Engine> engine = nullptr);

// Removes the three registrations.
void UnregisterLibreOfficeServers();

}  // namespace platform::libreoffice
