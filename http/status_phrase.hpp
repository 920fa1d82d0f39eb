#pragma once

#include <string>

namespace HttpCore {

// "200 OK" for 200 and so on; the empty string for 0 and for unknown codes.
const std::string& status_phrase(int code);

}  // namespace HttpCore
