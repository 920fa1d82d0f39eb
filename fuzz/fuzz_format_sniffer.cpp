// The document-format sniffer on any file the person at the desktop may
// pick: the file's head, its ZIP directory, and its name's extension.
//
// Input: the file's bytes; its size chooses the name's extension, so that
// documents the tests keep are seeds as they are.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.hpp"
#include "platform/libreoffice/format_sniffer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kExtensions[] = {".docx", ".txt", ".csv", ".text", ".xls", "", ".TXT", ".html"};
  const std::string path = fuzz::Folder() + "/document" + kExtensions[size % 8];
  fuzz::WriteBytes(path, std::string_view(reinterpret_cast<const char*>(data), size));
  using platform::libreoffice::ContentKind;
  const ContentKind kind = platform::libreoffice::SniffFile(path);
  FUZZ_EXPECT((kind == ContentKind::kEmpty) == (size == 0));
  FUZZ_EXPECT(platform::libreoffice::DescribeContentKind(kind) != nullptr);
  return 0;
}
