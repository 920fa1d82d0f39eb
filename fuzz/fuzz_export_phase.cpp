// The export phase on a hostile page: an imported .html is copied into the
// export folder as it is and then read back, its encoding guessed, its body
// cut out, its file list walked and its files collected into the reply.
//
// Input: a knobs byte (bits 0-1 the path, bits 2-5 the page's code page from
// a list, bit 6 whether the support folder gets its usual files), then the
// page; a line "@@FILELIST@@" starts the filelist.xml written beside it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <json/json.h>

#include "endpoints/export_phase.hpp"
#include "export/export_paths.hpp"
#include "export/reply_budget.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

const char* const kPaths[] = {"/export_as_html", "/edit_export_html", "/edit_export_purge_html",
                              "/import_file_as_html"};
const char* const kCodePages[] = {"",     "0",    "65001", "949", "1252", "932",   "936",  "950",
                                  "1251", "1255", "874",   "437", "-1",   "70000", "x949", "51949"};

bool Ready() {
  fuzz::Folder();
  static const bool ready = InitExportPaths();
  return ready;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || !Ready()) return 0;
  const std::uint8_t knobs = data[0];
  std::string_view filelist;
  const std::string_view page =
      fuzz::SplitAt(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), "\n@@FILELIST@@\n", filelist);

  std::filesystem::create_directories(SupportFolderPathUtf8());
  fuzz::WriteBytes(ImportHtmlPathUtf8(), page);
  if (!filelist.empty()) fuzz::WriteBytes(FileListPathUtf8(), filelist);
  if (knobs & 0x40) {
    fuzz::WriteBytes(SupportFolderPathUtf8() + "/image001.png", "\x89PNG");
    fuzz::WriteBytes(SupportFolderPathUtf8() + "/image002.jpg", "");
    fuzz::WriteBytes(SupportFolderPathUtf8() + "/header.htm", page.substr(0, 64));
  }

  RequestTree params;
  params.put("html_codepage", kCodePages[(knobs >> 2) & 15]);
  params.put("file_filter", (knobs & 0x80) ? "pptslide" : "doc");
  try {
    const ReplyBody body = RunExportPhase(kPaths[knobs & 3], params);
    std::string text;
    FUZZ_EXPECT(body.ToText(text));
    Json::Value reply;
    FUZZ_EXPECT(Json::Reader().parse(text, reply));
    FUZZ_EXPECT(reply.isObject() && reply["filelist"][0].asString() == "index.html");
  } catch (const ReplyBudgetExceeded&) {
  }
  FUZZ_EXPECT(ReplyTextHeld() == 0);

  // The next input starts from an empty folder.
  std::error_code ignored;
  std::filesystem::remove_all(SupportFolderPathUtf8(), ignored);
  std::filesystem::remove(ImportHtmlPathUtf8(), ignored);
  return 0;
}
