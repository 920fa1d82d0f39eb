#include "export/file_list.hpp"

#include "base/utf.hpp"
#include "export/export_paths.hpp"
#include "export/file_reading.hpp"
#include "platform/codepage.hpp"

std::vector<std::string> ScanFileList(std::string_view text) {
  static constexpr std::string_view kOpen = "<o:File HRef=\"";
  static constexpr std::string_view kClose = "\"/>";
  std::vector<std::string> names;
  std::size_t position = 0;
  for (;;) {
    const std::size_t open = text.find(kOpen, position);
    if (open == std::string_view::npos) break;
    const std::size_t start = open + kOpen.size();
    const std::size_t close = text.find(kClose, start);
    if (close == std::string_view::npos) break;
    if (close - start <= kMaxExportPathBytes) {
      names.emplace_back(text.substr(start, close - start));
    }
    position = close + kClose.size();
  }
  return names;
}

std::optional<std::string> ReadFileListText(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, kMaxTextFileBytes, bytes)) return std::nullopt;
  const std::size_t size = bytes.size();
  const std::size_t nul = bytes.find('\0');
  if (nul != std::string::npos) bytes.resize(nul);
  std::string utf8;
  if (!platform::CodePageToUtf8(platform::kCodePageAnsi, bytes, utf8)) return std::nullopt;
  // The text is converted in a buffer of twice the file's size; a list that
  // grows beyond that (single-byte code pages take up to three bytes a
  // character in UTF-8) loses its end, not the bytes after the buffer.
  CutUtf8ToFit(utf8, 2 * size);
  return utf8;
}
