// Every JSON text of the system is written the same way: JsonCpp's
// StyledWriter (members in key order, one per line, three-blank indent).
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>
#include <string_view>

std::string StyledJson(const Json::Value& value);

// How many bytes StyledWriter writes for `text` as a string value, quotes
// included: it escapes quotes, backslashes and control characters, and
// writes every character beyond ASCII as \uXXXX (two of them beyond the
// BMP), so a text may grow up to six times. Lets a reply's size be known
// before the writer is asked to make it.
std::uint64_t StyledJsonStringSize(std::string_view text);
