// The file list the document engine writes beside a page (filelist.xml):
// read from disk in the system code page and scanned for its entries.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "export/export_paths.hpp"
#include "export/file_list.hpp"
#include "fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const std::string& name : ScanFileList(bytes)) {
    FUZZ_EXPECT(name.size() <= kMaxExportPathBytes);
    FUZZ_EXPECT(bytes.find("<o:File HRef=\"" + name + "\"/>") != std::string_view::npos);
  }

  static const std::string path = fuzz::Folder() + "/filelist.xml";
  fuzz::WriteBytes(path, bytes);
  const std::optional<std::string> text = ReadFileListText(path);
  FUZZ_EXPECT(text.has_value());
  // Cut to twice the file's size, like the buffer it is converted in.
  FUZZ_EXPECT(text->size() <= 2 * size);
  for (const std::string& name : ScanFileList(*text)) FUZZ_EXPECT(name.size() <= kMaxExportPathBytes);
  return 0;
}
