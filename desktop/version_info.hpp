// The version report: the registered word processor's version, the system's
// ANSI code page and this program's product name and version.
#pragma once

#include <string>

#include "platform/office_version.hpp"

// The version reply as JSON text, written with Json::StyledWriter:
// `product_name`, `product_version`, `success` true, `system_codepage` and
// `word_version` (empty when no word processor is registered, absent when its
// version cannot be read). Never fails.
std::string GetVersionInfoJson(const platform::OfficeVersion& office, unsigned int system_codepage);

// The same for the process-wide version source and the system code page.
std::string GetVersionInfoJson();
