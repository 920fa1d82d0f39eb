// The clipboard's HTML as outside programs offer it: text/html turned into
// the "HTML Format" description, the description cut into document and
// fragment, and its file:/// scan collecting the files it names into a
// laid-out reply.
//
// Input: the first byte says whether the rest is text/html (bit 0 clear) or
// taken as the description as it is. "@DIR@" in the input stands for a
// folder holding a.png, b.txt, c.gif and d.css, so that references can name
// files that exist.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <json/json.h>

#include "desktop/clipboard_reader.hpp"
#include "export/base64_splice.hpp"
#include "fuzz/fuzz_support.hpp"
#include "platform/clipboard_html_format.hpp"

namespace {

constexpr std::string_view kStartMarker = "<!--StartFragment-->";
constexpr std::string_view kEndMarker = "<!--EndFragment-->";

const std::string& Files() {
  static const std::string folder = [] {
    const std::string path = fuzz::Folder() + "/clipboard";
    std::filesystem::create_directory(path);
    fuzz::WriteBytes(path + "/a.png", "\x89PNG\r\n\x1a\n");
    fuzz::WriteBytes(path + "/b.txt", "caf\xC3\xA9 \"text\"");
    fuzz::WriteBytes(path + "/c.gif", "");
    fuzz::WriteBytes(path + "/d.css", std::string(5000, '\x01'));
    return path;
  }();
  return folder;
}

std::size_t Offset(const std::string& description, std::string_view name) {
  const std::size_t at = description.find(name);
  FUZZ_EXPECT(at != std::string::npos);
  return static_cast<std::size_t>(std::strtoull(description.c_str() + at + name.size(), nullptr, 10));
}

// A description made here must point at its own document and markers.
void CheckDescription(const std::string& description) {
  const std::size_t start_html = Offset(description, "StartHTML:");
  const std::size_t end_html = Offset(description, "EndHTML:");
  const std::size_t start_fragment = Offset(description, "StartFragment:");
  const std::size_t end_fragment = Offset(description, "EndFragment:");
  FUZZ_EXPECT(start_html <= start_fragment && start_fragment <= end_fragment && end_fragment <= end_html);
  FUZZ_EXPECT(end_html == description.size());
  FUZZ_EXPECT(start_fragment >= kStartMarker.size());
  FUZZ_EXPECT(description.compare(start_fragment - kStartMarker.size(), kStartMarker.size(), kStartMarker) == 0);
  FUZZ_EXPECT(description.compare(end_fragment, kEndMarker.size(), kEndMarker) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (std::size_t at = input.find("@DIR@"); at != std::string::npos; at = input.find("@DIR@", at))
    input.replace(at, 5, Files());

  std::string description = input;
  if ((data[0] & 1) == 0) {
    const std::string decoded = platform::DecodeTextHtml(input);
    description = platform::HtmlFormatFromTextHtml(input);
    if (!description.empty() && !platform::IsHtmlFormatDescription(decoded)) CheckDescription(description);
  }
  description.resize(std::string_view(description).find('\0') == std::string_view::npos
                         ? description.size()
                         : description.find('\0'));

  const ClipboardHtmlParts parts = CutClipboardHtml(description);
  FUZZ_EXPECT(description.compare(0, parts.original.size(), parts.original) == 0);
  FUZZ_EXPECT(parts.body.empty() || parts.original.find(parts.body) != std::string::npos);
  FUZZ_EXPECT(parts.fragment.size() <= parts.body.size());

  Base64Splice splice;
  Json::Value image_files;
  Json::Value text_files;
  CollectClipboardFiles(description, image_files, text_files, splice);
  Json::Value reply(Json::objectValue);
  reply["image_files"] = std::move(image_files);
  reply["text_files"] = std::move(text_files);
  reply["html_body"] = parts.body;
  const ReplyBody body = splice.Lay(reply);
  std::string text;
  FUZZ_EXPECT(body.ToText(text));
  Json::Value parsed;
  FUZZ_EXPECT(Json::Reader().parse(text, parsed));
  return 0;
}
