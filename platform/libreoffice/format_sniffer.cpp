#include "platform/libreoffice/format_sniffer.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/libreoffice/text_support.hpp"

namespace platform::libreoffice {
namespace {

constexpr std::size_t kHeadBytes = 4096;
// A ZIP central directory larger than this is not an office document we
// want to open anyway.
constexpr std::uint64_t kMaxCentralDirectory = 16u << 20;

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

ContentKind FromOdfMimeType(const std::string& mime) {
  if (StartsWith(mime, "application/vnd.oasis.opendocument.text")) return ContentKind::kOpenDocumentText;
  if (StartsWith(mime, "application/vnd.oasis.opendocument.spreadsheet")) return ContentKind::kOpenDocumentSheet;
  if (StartsWith(mime, "application/vnd.oasis.opendocument.presentation")) return ContentKind::kOpenDocumentPresentation;
  return ContentKind::kUnknown;
}

// Reads the names in a ZIP archive's central directory and classifies the
// package by its parts.
ContentKind SniffZip(std::ifstream& in, std::uint64_t size, const std::string& head) {
  // A leading "mimetype" entry stored uncompressed marks an OpenDocument package.
  if (head.size() >= 30 + 8 && head.compare(30, 8, "mimetype") == 0) {
    std::size_t start = 30 + 8 + Le16(reinterpret_cast<const unsigned char*>(head.data()) + 28);
    if (start < head.size()) {
      ContentKind k = FromOdfMimeType(head.substr(start, 80));
      if (k != ContentKind::kUnknown) return k;
    }
  }
  // End of central directory record: within the last 64 KiB + 22 bytes.
  const std::uint64_t tail = std::min<std::uint64_t>(size, 65536 + 22);
  std::vector<unsigned char> buf(static_cast<std::size_t>(tail));
  in.clear();
  in.seekg(static_cast<std::streamoff>(size - tail));
  if (!in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(tail)))
    return ContentKind::kUnknown;
  std::size_t eocd = std::string::npos;
  for (std::size_t i = buf.size() >= 22 ? buf.size() - 22 + 1 : 0; i-- > 0;) {
    if (buf[i] == 'P' && buf[i + 1] == 'K' && buf[i + 2] == 5 && buf[i + 3] == 6) {
      eocd = i;
      break;
    }
  }
  if (eocd == std::string::npos) return ContentKind::kUnknown;
  const std::uint64_t cdSize = Le32(&buf[eocd + 12]);
  const std::uint64_t cdOffset = Le32(&buf[eocd + 16]);
  if (cdSize == 0 || cdSize > kMaxCentralDirectory || cdOffset + cdSize > size)
    return ContentKind::kUnknown;
  std::vector<unsigned char> cd(static_cast<std::size_t>(cdSize));
  in.clear();
  in.seekg(static_cast<std::streamoff>(cdOffset));
  if (!in.read(reinterpret_cast<char*>(cd.data()), static_cast<std::streamsize>(cdSize)))
    return ContentKind::kUnknown;

  bool contentTypes = false, word = false, xl = false, ppt = false;
  std::size_t pos = 0;
  while (pos + 46 <= cd.size() && Le32(&cd[pos]) == 0x02014b50u) {
    const std::size_t nameLen = Le16(&cd[pos + 28]);
    const std::size_t extraLen = Le16(&cd[pos + 30]);
    const std::size_t commentLen = Le16(&cd[pos + 32]);
    if (pos + 46 + nameLen > cd.size()) break;
    const std::string name(reinterpret_cast<const char*>(&cd[pos + 46]), nameLen);
    if (name == "[Content_Types].xml") contentTypes = true;
    if (StartsWith(name, "word/")) word = true;
    if (StartsWith(name, "xl/")) xl = true;
    if (StartsWith(name, "ppt/")) ppt = true;
    pos += 46 + nameLen + extraLen + commentLen;
  }
  if (!contentTypes) return ContentKind::kUnknown;
  if (word) return ContentKind::kWordprocessingML;
  if (xl) return ContentKind::kSpreadsheetML;
  if (ppt) return ContentKind::kPresentationML;
  return ContentKind::kUnknown;
}

// `truncated` says the text is the head of a longer file, so a sequence cut
// at its end is not an error.
bool IsUtf8Text(const std::string& s, bool truncated) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
      ++i;
      continue;
    }
    std::size_t n = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
    if (n == 0 || c == 0xC0 || c == 0xC1 || c > 0xF4) return false;
    if (i + n >= s.size()) return truncated;
    for (std::size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

// The BOF record that opens an Excel 2, 3 or 4 worksheet saved without a
// compound-file container: id 0x0009, 0x0209 or 0x0409, then a short length.
bool IsBiffBof(const std::string& head) {
  if (head.size() < 8) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(head.data());
  const bool bof = p[0] == 0x09 && (p[1] == 0x00 || p[1] == 0x02 || p[1] == 0x04);
  const std::uint16_t length = Le16(p + 2);
  return bof && length >= 4 && length <= 16;
}

std::string Extension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Lower(path.substr(dot + 1));
}

}  // namespace

ContentKind SniffFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return ContentKind::kMissing;
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (end < 0) return ContentKind::kMissing;
  const auto size = static_cast<std::uint64_t>(end);
  if (size == 0) return ContentKind::kEmpty;
  in.seekg(0);
  std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadBytes)), '\0');
  if (!in.read(&head[0], static_cast<std::streamsize>(head.size()))) return ContentKind::kMissing;

  static const char kOle2[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  if (head.compare(0, 8, kOle2, 8) == 0) return ContentKind::kCompoundFile;
  if (head.compare(0, 4, "PK\x03\x04", 4) == 0) return SniffZip(in, size, head);
  if (IsBiffBof(head)) return ContentKind::kBiffStream;
  if (StartsWith(head, "{\\rtf")) return ContentKind::kRtf;
  // PDF readers accept the header anywhere in the first kilobyte.
  if (head.substr(0, 1024).find("%PDF-") != std::string::npos) return ContentKind::kPdf;

  std::string text = head;
  if (StartsWith(text, "\xEF\xBB\xBF")) text.erase(0, 3);
  const std::string lower = Lower(text);
  std::size_t first = lower.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && lower[first] == '<') {
    if (lower.find("<office:document") != std::string::npos) {
      const auto at = lower.find("office:mimetype=\"");
      if (at != std::string::npos) {
        ContentKind k = FromOdfMimeType(lower.substr(at + 17, 80));
        if (k != ContentKind::kUnknown) return k;
      }
    }
    if (lower.compare(first, 14, "<!doctype html") == 0 || lower.find("<html") != std::string::npos)
      return ContentKind::kHtml;
  }
  const std::string ext = Extension(path);
  if ((ext == "txt" || ext == "text" || ext == "csv") && IsUtf8Text(text, size > head.size())) return ContentKind::kPlainText;
  return ContentKind::kUnknown;
}

const char* DescribeContentKind(ContentKind kind) {
  switch (kind) {
    case ContentKind::kMissing: return "an unreadable file";
    case ContentKind::kEmpty: return "an empty file";
    case ContentKind::kCompoundFile: return "an OLE2 compound file";
    case ContentKind::kBiffStream: return "an Excel 2-4 worksheet";
    case ContentKind::kWordprocessingML: return "a Word document";
    case ContentKind::kSpreadsheetML: return "an Excel workbook";
    case ContentKind::kPresentationML: return "a PowerPoint presentation";
    case ContentKind::kOpenDocumentText: return "an OpenDocument text";
    case ContentKind::kOpenDocumentSheet: return "an OpenDocument spreadsheet";
    case ContentKind::kOpenDocumentPresentation: return "an OpenDocument presentation";
    case ContentKind::kRtf: return "an RTF document";
    case ContentKind::kPdf: return "a PDF file";
    case ContentKind::kHtml: return "an HTML page";
    case ContentKind::kPlainText: return "a plain text file";
    case ContentKind::kUnknown: break;
  }
  return "unrecognised content";
}

}  // namespace platform::libreoffice
