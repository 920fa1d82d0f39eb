#include "desktop/version_info.hpp"

#include <json/json.h>

#include "base/json_text.hpp"
#include "base/utf.hpp"
#include "platform/codepage.hpp"

namespace {

// The registered value is read into 128 UTF-16 units, terminator included;
// a longer value cannot be read.
constexpr std::size_t kMaxCurVerUnits = 127;
// "Word.Application." comes before the version; it is skipped by position.
constexpr std::size_t kProgIdPrefixUnits = 17;

}  // namespace

std::string GetVersionInfoJson(const platform::OfficeVersion& office, unsigned int system_codepage) {
  using State = platform::RegisteredWordVersion::State;
  Json::Value reply(Json::objectValue);

  const platform::RegisteredWordVersion registration = office.ReadWordCurVer();
  if (registration.state == State::kMissing) {
    reply["word_version"] = "";
  } else if (registration.state == State::kPresent) {
    std::u16string value = registration.value.substr(0, registration.value.find(u'\0'));
    if (value.size() <= kMaxCurVerUnits) {
      // A value too short to hold a version reports none rather than reading
      // past its end.
      reply["word_version"] =
          value.size() > kProgIdPrefixUnits ? WideToUtf8(value.substr(kProgIdPrefixUnits)) : std::string();
    }
  }
  reply["success"] = true;
  reply["product_version"] = "1.0.0";
  reply["product_name"] = "PLUMETO_HTTP";
  reply["system_codepage"] = Json::UInt(system_codepage);
  return StyledJson(reply);
}

std::string GetVersionInfoJson() {
  return GetVersionInfoJson(platform::OfficeVersion::Get(), platform::SystemCodePage());
}
