// Every JSON text of the system is written the same way: JsonCpp's
// StyledWriter (members in key order, one per line, three-blank indent).
#pragma once

#include <json/json.h>

#include <string>

std::string StyledJson(const Json::Value& value);
