#include "endpoints/export_phase.hpp"

#include <json/json.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "base/utf.hpp"
#include "endpoints/automation_failure.hpp"
#include "endpoints/last_import.hpp"
#include "export/base64_splice.hpp"
#include "export/collected_file.hpp"
#include "export/export_paths.hpp"
#include "export/file_checks.hpp"
#include "export/file_list.hpp"
#include "export/file_reading.hpp"
#include "export/purge.hpp"
#include "office/deskrelay_dlg.hpp"
#include "office/word_window.hpp"
#include "platform/codepage.hpp"
#include "platform/codepage.hpp"

namespace {

constexpr char kImportPath[] = "/import_file_as_html";
constexpr char kPurgePath[] = "/edit_export_purge_html";

// How many UTF-16 units `bytes` decode to in `code_page`, its terminating
// NUL included; nothing for a code page we cannot decode.
std::optional<std::size_t> DecodedUnits(platform::CodePage code_page, const std::string& bytes) {
  std::u16string wide;
  if (!platform::MultiByteToWide(code_page, bytes, wide)) return std::nullopt;
  return wide.size() + 1;
}

struct Page {
  bool present = false;
  std::string raw;     // the file's bytes up to the first NUL
  std::string chosen;  // the answered decoding, UTF-8
};

Page ReadPage(platform::CodePage our_code_page) {
  Page page;
  if (!ExportPathsReady() || !ReadWholeFile(ImportHtmlPathUtf8(), kMaxTextFileBytes, page.raw)) return page;
  page.present = true;
  // Every conversion works in a buffer of twice the file's size.
  const std::size_t room = 2 * page.raw.size();
  page.raw.resize(page.raw.find('\0') == std::string::npos ? page.raw.size() : page.raw.find('\0'));

  const std::size_t utf8_units = DecodedUnits(platform::kCodePageUtf8, page.raw).value_or(0);
  const std::optional<std::size_t> our_units = DecodedUnits(our_code_page, page.raw);
  const std::size_t acp_units = DecodedUnits(platform::kCodePageAnsi, page.raw).value_or(0);

  switch (ChoosePageLabel(utf8_units, our_units.value_or(0), our_units.has_value(), acp_units)) {
    case PageLabel::kUtf8:
      page.chosen = page.raw;
      break;
    case PageLabel::kOur:
      platform::CodePageToUtf8(our_code_page, page.raw, page.chosen);
      break;
    case PageLabel::kAcp:
      platform::CodePageToUtf8(platform::kCodePageAnsi, page.raw, page.chosen);
      break;
  }
  CutUtf8ToFit(page.chosen, room);
  return page;
}

std::string SlideName(int number) { return "SLIDE" + std::to_string(number) + ".JPG"; }

// Slide pictures 1 to 99 of one naming pattern; a missing number is passed
// over. An entry of a name already there replaces it.
void CollectSlides(const std::u16string& first, const std::u16string& pattern, Json::Value& image_files,
                   Base64Splice& splice) {
  if (first.empty() || !FileOrFolderExists(first)) return;
  for (int number = 1; number <= 99; ++number) {
    const std::u16string path = FormatSlidePath(pattern, number);
    if (!FileOrFolderExists(path)) continue;
    const std::string name = SlideName(number);
    Json::Value entry(Json::objectValue);
    entry["slide_num"] = number;
    entry["filename"] = name;
    entry["full_filename"] = name;
    entry["base64"] = splice.StandInFile(WideToUtf8(path));
    if (const char* mime_type = CollectedImageMimeType(name)) entry["mime_type"] = mime_type;
    image_files[name] = std::move(entry);
  }
}

}  // namespace

PageLabel ChoosePageLabel(std::size_t utf8_units, std::size_t our_units, bool our_known,
                          std::size_t acp_units) {
  const std::size_t least = our_known && our_units < acp_units ? our_units : acp_units;
  if (least >= utf8_units) return PageLabel::kUtf8;
  return our_known && our_units < acp_units ? PageLabel::kOur : PageLabel::kAcp;
}

std::string BodyFragment(const std::string& page) {
  const std::size_t body = page.find("<body lang");
  if (body == std::string::npos) return std::string();
  const std::size_t end = page.find("</body>", body);
  const std::size_t div = page.find("<div", body);
  if (end == std::string::npos || div == std::string::npos || div > end) return std::string();
  return page.substr(div, end - div);
}

std::string ReferringTag(const std::string& page, const std::string& name) {
  const std::size_t at = page.find(name);
  if (at == std::string::npos) return std::string();
  const std::size_t floor = at >= 99 ? at - 99 : 0;
  std::size_t open = std::string::npos;
  for (std::size_t i = at + 1; i-- > floor;) {
    if (page[i] == '<') {
      open = i;
      break;
    }
  }
  if (open == std::string::npos) return std::string();
  const std::string_view from(page.data() + open, page.size() - open);
  auto starts = [&](std::string_view prefix) { return from.substr(0, prefix.size()) == prefix; };
  if (starts("<img") || starts("<IMG")) return "img";
  if (starts("<v:imagedata") || starts("<V:IMAGEDATA")) return "v:imagedata";
  return std::string();
}

ReplyBody RunExportPhase(const std::string& path, const RequestTree& params) {
  if (g_pMainDlg) {
    WaitForWordClosed();
    DiscardMainDialog();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  // A negative number becomes a code page no one has, as it would on Windows.
  const auto code_page = static_cast<platform::CodePage>(AtoiLike(ReadParam(params, "html_codepage")));
  const bool with_files = path == kImportPath || path == kPurgePath;

  const Page page = ReadPage(code_page);
  const std::string fragment = page.present ? BodyFragment(page.chosen) : std::string();

  // The purging paths delete the files before the reply is sent: their
  // pictures are held open until then.
  Base64Splice splice(with_files ? Base64File::Keep::kHold : Base64File::Keep::kReopen);
  const std::string& body_data = fragment.empty() ? page.chosen : fragment;
  splice.ChargeText(page.chosen);
  splice.ChargeText(body_data);

  Json::Value reply(Json::objectValue);
  reply["success"] = true;
  reply["html_data"] = page.chosen;
  reply["html_body_data"] = body_data;

  Json::Value filelist(Json::arrayValue);
  filelist.append("index.html");
  Json::Value image_files;  // null until the first entry
  Json::Value text_files;

  const std::optional<std::string> list =
      ExportPathsReady() ? ReadFileListText(FileListPathUtf8()) : std::nullopt;
  if (!list) {
    if (with_files) {
      CollectSlides(FirstSlidePathEn(), SlidePatternEn(), image_files, splice);
      CollectSlides(FirstSlidePathKo(), SlidePatternKo(), image_files, splice);
    }
  } else {
    for (const std::string& name : ScanFileList(*list)) {
      filelist.append(name);
      if (!page.present) {
        reply["success"] = false;
        break;
      }
      if (!with_files) continue;
      const std::string tag = ReferringTag(page.raw, name);
      AddCollectedFile(image_files, text_files, name, name, SupportFolderPrefix() + name,
                       tag.empty() ? std::nullopt : std::optional<std::string>(tag), code_page, splice);
    }
  }

  reply["filelist"] = std::move(filelist);
  if (with_files) {
    reply["image_files"] = std::move(image_files);
    reply["text_files"] = std::move(text_files);
  }
  if (path == kPurgePath) {
    reply["purge_result"] = PurgeWordExport(true);
  } else if (path == kImportPath) {
    reply["purge_result"] =
        ReadParam(params, "file_filter") == "pptslide" ? PurgeSlidesExport(true) : PurgeWordExport(true);
    reply["local_filename"] = g_localFilename;
    reply["local_mime_type"] = g_localMimeType;
    reply["local_open_app"] = g_localOpenApp;
  }
  return splice.Lay(reply);
}
