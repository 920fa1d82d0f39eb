#include "app/font_cache.hpp"

#include <json/json.h>

#include <cstring>
#include <exception>
#include <memory>

#include "app/globals.hpp"
#include "base/json_text.hpp"
#include "base/utf.hpp"

namespace {

std::string WriteWithFirstFamilies(const Json::Value& reply, Json::ArrayIndex count) {
  Json::Value cut = reply;
  Json::Value families(Json::arrayValue);
  for (Json::ArrayIndex i = 0; i < count; ++i) families.append(reply["font_list"][i]);
  cut["font_list"] = count > 0 ? families : Json::Value();
  cut["font_count"] = static_cast<int>(count);
  return StyledJson(cut);
}

}  // namespace

std::string FitFontListText(const std::string& text, std::size_t capacity) {
  if (capacity == 0) return {};
  if (text.size() < capacity) return text;

  Json::Value reply;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  bool parsed = false;
  try {
    parsed = reader->parse(text.data(), text.data() + text.size(), &reply, &errors) && reply.isObject();
  } catch (const std::exception&) {
    // The reader throws instead of failing on nesting deeper than it takes.
  }
  if (!parsed || !reply["font_list"].isArray()) {
    std::string cut = text;
    CutUtf8ToFit(cut, capacity - 1);
    return cut;
  }

  // The largest number of leading families whose reply still fits.
  Json::ArrayIndex low = 0;
  Json::ArrayIndex high = reply["font_list"].size();
  while (low < high) {
    const Json::ArrayIndex mid = low + (high - low + 1) / 2;
    if (WriteWithFirstFamilies(reply, mid).size() < capacity) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  const std::string fitted = WriteWithFirstFamilies(reply, low);
  return fitted.size() < capacity ? fitted : std::string();
}

void StoreFontListCache(const std::string& text) {
  const std::string fitted = FitFontListText(text, kFontListCacheSize);
  std::memcpy(g_fontListCache, fitted.c_str(), fitted.size() + 1);
}
