#include "desktop/font_list.hpp"

#include <json/json.h>

#include <algorithm>

#include "base/json_text.hpp"
#include "base/utf.hpp"

std::string GetFontListJson(const platform::FontCollection& fonts) {
  const auto families = fonts.InstalledFamilies();
  if (!families || families->empty()) return {};

  Json::Value reply;
  Json::Value& list = reply["font_list"];  // stays null when nothing is added
  int count = 0;
  const std::size_t n = std::min(families->size(), kFontFamilyTableSize);
  for (std::size_t i = 0; i < n; ++i) {
    const std::u16string& name = (*families)[i];
    if (name.empty()) continue;
    list.append(WideToUtf8(name));
    ++count;
  }
  reply["encoding"] = "utf-8";
  reply["font_count"] = count;
  reply["success"] = true;
  return StyledJson(reply);
}

std::string GetFontListJson() { return GetFontListJson(platform::FontCollection::Get()); }
