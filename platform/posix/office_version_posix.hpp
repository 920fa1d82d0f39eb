// LibreOffice backend of the office version source, for tests that point it
// at an install tree of their own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/office_version.hpp"

namespace platform {

// Looks for LibreOffice's program folder in `program_dirs`, in order; the
// first folder holding the "soffice" program is the installed engine.
std::unique_ptr<OfficeVersion> CreateLibreOfficeVersion(std::vector<std::string> program_dirs);

}  // namespace platform
