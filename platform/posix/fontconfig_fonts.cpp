// Font families from fontconfig.
//
// fontconfig reports one pattern per distinct family list, so one family
// shows up several times: "DejaVu Sans" alone, and again inside
// "DejaVu Sans,DejaVu Sans Condensed". A family list may also carry
// translated names of the same family. Each pattern contributes its English
// names (fontconfig's neutral language for family names), or its first name
// when it has no English one, and each name is listed once, at its first
// appearance in fontconfig's order.
#include <fontconfig/fontconfig.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "base/utf.hpp"
#include "platform/fonts.hpp"

namespace platform {
namespace {

// A name that is not UTF-8 cannot be read and becomes the empty text.
std::u16string DecodeName(const char* text) {
  std::u16string out;
  DecodeUtf8(text, out, Utf8Errors::kFail);
  return out;
}

bool IsEnglish(const char* lang) {
  return lang != nullptr && lang[0] == 'e' && lang[1] == 'n' && (lang[2] == '\0' || lang[2] == '-');
}

// The names one pattern contributes, in the pattern's order.
std::vector<const char*> NamesOf(FcPattern* pattern) {
  std::vector<const char*> all;
  std::vector<const char*> english;
  for (int i = 0;; ++i) {
    FcChar8* family = nullptr;
    if (FcPatternGetString(pattern, FC_FAMILY, i, &family) != FcResultMatch) break;
    FcChar8* lang = nullptr;
    if (FcPatternGetString(pattern, FC_FAMILYLANG, i, &lang) != FcResultMatch) lang = nullptr;
    const char* name = reinterpret_cast<const char*>(family);
    all.push_back(name);
    if (IsEnglish(reinterpret_cast<const char*>(lang))) english.push_back(name);
  }
  if (!english.empty()) return english;
  if (!all.empty()) all.resize(1);
  return all;
}

class FontconfigFonts final : public FontCollection {
 public:
  std::optional<std::vector<std::u16string>> InstalledFamilies() const override {
    // Fonts installed while the program runs show up, as they do on a
    // desktop whose font enumeration is always current; fontconfig rescans
    // at most once per its rescan interval.
    FcInitBringUptoDate();
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_FAMILYLANG, nullptr);
    FcFontSet* set = (pattern && objects) ? FcFontList(nullptr, pattern, objects) : nullptr;
    if (objects) FcObjectSetDestroy(objects);
    if (pattern) FcPatternDestroy(pattern);
    if (set == nullptr) return std::nullopt;

    std::vector<std::u16string> families;
    std::unordered_set<std::string> seen;
    for (int i = 0; i < set->nfont; ++i) {
      for (const char* name : NamesOf(set->fonts[i])) {
        if (!seen.insert(name).second) continue;
        std::u16string wide = DecodeName(name);
        // A name that cannot be decoded is reported once, as unreadable.
        families.push_back(std::move(wide));
      }
    }
    FcFontSetDestroy(set);
    return families;
  }
};

}  // namespace

std::unique_ptr<FontCollection> FontCollection::CreatePlatformBackend() {
  return std::make_unique<FontconfigFonts>();
}

}  // namespace platform
