#include "desktop/clipboard_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "base/base64.hpp"
#include "base/utf.hpp"
#include "export/base64_splice.hpp"
#include "export/collected_file.hpp"
#include "export/export_paths.hpp"
#include "platform/codepage.hpp"

namespace {

constexpr std::string_view kHtmlOpen = "<html";
constexpr std::string_view kHtmlClose = "</html>";
constexpr std::string_view kStartFragment = "<!--StartFragment-->";
constexpr std::string_view kEndFragment = "<!--EndFragment-->";
constexpr std::string_view kFileSource = "src=\"file:///";
constexpr std::string_view kFileUrlPrefix = "file:///";
// The nearest "<" before a source is looked for in the source's own
// position and this many before it.
constexpr std::size_t kTagLookBack = 99;
// How far the scan moves on past a source that belongs to no picture tag.
constexpr std::size_t kScanSkip = 20;

std::mutex g_clipboardReaderMutex;

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The text up to its first NUL, as the clipboard hands text over.
template <typename Char>
std::basic_string_view<Char> UpToNul(const std::basic_string<Char>& s) {
  const std::size_t nul = s.find(Char{0});
  return std::basic_string_view<Char>(s).substr(0, nul);
}

// Writes the PNG as the capture file. The export folder is the user's own
// (mode 0700); the file is still not followed if it is a link.
void SaveCapture(const std::string& path, const std::string& png) {
  if (path.empty()) return;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  std::size_t written = 0;
  while (written < png.size()) {
    const ssize_t n = write(fd, png.data() + written, png.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  close(fd);
}

std::optional<std::string> PictureTag(std::string_view at_tag) {
  if (StartsWith(at_tag, "<img") || StartsWith(at_tag, "<IMG")) return std::string("img");
  if (StartsWith(at_tag, "<v:imagedata") || StartsWith(at_tag, "<V:IMAGEDATA")) return std::string("v:imagedata");
  return std::nullopt;
}

std::string BaseName(std::string_view path) {
  std::size_t cut = path.rfind('\\');
  if (cut == std::string_view::npos) cut = path.rfind('/');
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// Keys of the entries of one reply. A page looks a picture up by its base
// name, so the first file of a base name keeps it; a different file of the
// same base name would replace that entry and be lost, so it is keyed by its
// URL instead (the "#n" forms only for names made up to collide).
class EntryKeys {
 public:
  const std::string& For(const std::string& url, std::string_view path) {
    auto known = key_of_url_.find(url);
    if (known != key_of_url_.end()) return known->second;  // the same file again
    std::string key = BaseName(path);
    if (taken_.count(key)) key = url;
    for (int n = 2; taken_.count(key); ++n) key = url + "#" + std::to_string(n);
    taken_.insert(key);
    return key_of_url_.emplace(url, std::move(key)).first->second;
  }

 private:
  std::map<std::string, std::string> key_of_url_;
  std::set<std::string> taken_;
};

}  // namespace

ClipboardHtmlParts CutClipboardHtml(std::string_view html) {
  ClipboardHtmlParts parts;
  parts.original.assign(html);
  const std::size_t open = html.find(kHtmlOpen);
  if (open != std::string_view::npos && open > 0) {
    const std::size_t close = html.rfind(kHtmlClose);
    // A "</html>" before the "<html" ends no document; counting it would cut
    // the document to a negative length.
    if (close != std::string_view::npos && close > open) {
      const std::size_t end = close + kHtmlClose.size();
      parts.body.assign(html.substr(open, end - open));
      parts.original.resize(end);
    } else {
      parts.body.assign(html.substr(open));
    }
  }

  const std::string_view body = parts.body;
  const std::size_t start = body.find(kStartFragment);
  if (start != std::string_view::npos && start > 0) {
    const std::size_t text = start + kStartFragment.size();
    const std::size_t end = body.rfind(kEndFragment);
    if (end == std::string_view::npos || end < text) {
      parts.fragment.assign(body.substr(text));
    } else {
      parts.fragment.assign(body.substr(text, end - text));
    }
  }
  return parts;
}

namespace {

void CollectFiles(std::string_view html, Json::Value& image_files, Json::Value& text_files, Base64Splice* splice) {
  const platform::CodePage code_page = platform::SystemCodePage();
  EntryKeys keys;
  std::size_t scan = 0;
  for (;;) {
    const std::size_t source = html.find(kFileSource, scan);
    if (source == std::string_view::npos) return;

    const std::size_t earliest = source > kTagLookBack ? source - kTagLookBack : 0;
    std::optional<std::string> tag;
    for (std::size_t i = source + 1; i-- > earliest;) {
      if (html[i] == '<') {
        tag = PictureTag(html.substr(i));
        break;
      }
    }
    if (!tag) {
      // Steps of kScanSkip from `scan` until past this source: the same
      // source would be found again at every step before that.
      scan += kScanSkip * ((source - scan) / kScanSkip + 1);
      continue;
    }

    const std::size_t path_start = source + kFileSource.size();
    const std::size_t quote = html.find('"', path_start);
    if (quote == std::string_view::npos) return;
    const std::string_view path = html.substr(path_start, quote - path_start);

    // "file:///tmp/x.png" names /tmp/x.png here; a path with a drive letter
    // comes from a Windows program and stays as written. Names of any length
    // are held whole; the export code refuses those too long to open.
    const bool drive_letter = path.size() >= 2 && path[1] == ':';
    const std::string filename = drive_letter ? std::string(path) : "/" + std::string(path);
    const std::string url = std::string(kFileUrlPrefix) + std::string(path);
    const std::string& key = keys.For(url, path);
    if (splice) {
      AddCollectedFile(image_files, text_files, key, filename, url, tag, code_page, *splice);
    } else {
      AddCollectedFile(image_files, text_files, key, filename, url, tag, code_page);
    }
    scan = quote + 3;
  }
}

}  // namespace

void CollectClipboardFiles(std::string_view html, Json::Value& image_files, Json::Value& text_files) {
  CollectFiles(html, image_files, text_files, nullptr);
}

void CollectClipboardFiles(std::string_view html, Json::Value& image_files, Json::Value& text_files,
                           Base64Splice& splice) {
  CollectFiles(html, image_files, text_files, &splice);
}

ReplyBody ReadClipboardReply(platform::Clipboard& clipboard, const std::string& capture_path) {
  const std::lock_guard<std::mutex> lock(g_clipboardReaderMutex);
  const platform::ClipboardContents contents = clipboard.Read();

  std::string screen_capture;
  if (!contents.png.empty()) {
    SaveCapture(capture_path, contents.png);
    // Encoded from the bytes in hand rather than read back from the file, so
    // that a capture that cannot be saved still reaches the page, and never
    // an older one.
    screen_capture = Base64Encode(contents.png);
  }

  const std::u16string_view text = UpToNul(contents.text);
  const std::string_view html = UpToNul(contents.html_format);
  ClipboardHtmlParts parts = CutClipboardHtml(html);

  // Base64 texts make up most of a reply with pictures: they bypass the
  // writer's escaping and copying.
  Base64Splice splice;
  Json::Value image_files;
  Json::Value text_files;
  CollectClipboardFiles(html, image_files, text_files, splice);

  const std::string utf8_text = WideToUtf8(text);
  splice.ChargeText(parts.original);
  splice.ChargeText(parts.body);
  splice.ChargeText(parts.fragment);
  splice.ChargeText(utf8_text);
  Json::Value reply(Json::objectValue);
  reply["image_files"] = std::move(image_files);
  reply["text_files"] = std::move(text_files);
  reply["screen_capture"] = splice.StandIn(std::move(screen_capture));
  reply["html_body_utf8_byte_length"] = static_cast<Json::Int64>(parts.body.size());
  reply["html_fragment_utf8_byte_length"] = static_cast<Json::Int64>(parts.fragment.size());
  reply["html_clipboard_original_utf8_byte_length"] = static_cast<Json::Int64>(parts.original.size());
  reply["html_clipboard_original"] = std::move(parts.original);
  reply["html_body"] = std::move(parts.body);
  reply["html_fragment"] = std::move(parts.fragment);
  reply["text_utf16_length"] = static_cast<Json::Int64>(text.size());
  reply["text_utf8_byte_length"] = static_cast<Json::Int64>(utf8_text.size());
  reply["text"] = utf8_text;
  reply["encoding"] = "utf-8";
  reply["success"] = true;
  return splice.Lay(reply);
}

ReplyBody ReadClipboardReply() { return ReadClipboardReply(platform::Clipboard::Get(), ScreenCapturePathUtf8()); }

std::string ReadClipboardJson(platform::Clipboard& clipboard, const std::string& capture_path) {
  return ReplyText(ReadClipboardReply(clipboard, capture_path));
}

std::string ReadClipboardJson() {
  return ReadClipboardJson(platform::Clipboard::Get(), ScreenCapturePathUtf8());
}
