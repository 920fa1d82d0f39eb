// The export folder: one per-user folder in which the document engine writes
// converted pages and from which they are read back and purged, always under
// the same names.
//
// The root is $XDG_RUNTIME_DIR/docklane when XDG_RUNTIME_DIR is an absolute
// path naming a directory, else /tmp/docklane-<uid>. InitExportPaths creates
// it with mode 0700 and refuses a root that is a symlink, not a directory,
// owned by another user, not UTF-8, or so long that its paths would not fit
// in 259 bytes. A refused root leaves the table empty: relative names are
// then unreadable, purges find nothing to delete and conversions fail on
// their own terms, so nothing is ever read from or written to a place
// another user controls.
//
// The table is filled before the other threads start and only read after
// that; it takes no lock.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The longest path (in bytes) of a file that the export code opens by name.
inline constexpr std::size_t kMaxExportPathBytes = 259;

// Chooses, creates and checks the export root and fills the path table.
// Returns false when the root was refused (see above); `reason`, when given,
// then says why. Safe to call again (tests do); not while other threads read
// the table.
bool InitExportPaths(std::string* reason = nullptr);

// True when InitExportPaths accepted a root.
bool ExportPathsReady();

// The table. Wide forms are UTF-16, narrow forms UTF-8; all are empty while
// no root has been accepted.
const std::u16string& ExportRoot();
const std::string& ExportRootUtf8();
const std::u16string& ImportHtmlPath();       // <root>/import.html
const std::string& ImportHtmlPathUtf8();
const std::u16string& SupportFolderPath();    // <root>/import.files
const std::string& SupportFolderPathUtf8();
const std::u16string& SlidesFolderPath();     // <root>/import_pptslides
const std::u16string& FirstSlidePathEn();     // .../Slide1.JPG
const std::u16string& FirstSlidePathKo();     // .../<Korean "slide">1.JPG
const std::u16string& SlidePatternEn();       // .../Slide%d.JPG
const std::u16string& SlidePatternKo();       // .../<Korean "slide">%d.JPG
const std::u16string& FileListPath();         // <root>/import.files/filelist.xml
const std::string& FileListPathUtf8();
const std::u16string& ScreenCapturePath();    // <root>/pqe_screen_capture.png
const std::string& ScreenCapturePathUtf8();

// "import.files/": the support folder as the page refers to it. Constant.
const std::string& SupportFolderPrefix();

// A slide pattern with its "%d" replaced by `number`.
std::u16string FormatSlidePath(std::u16string_view pattern, int number);

// True for names the export code takes as paths of their own: those that
// start with '/', and, for names from Windows clients, those whose second
// character is ':'.
bool IsAbsoluteExportName(std::string_view name);

// The path of a file that the editor page names: an absolute name as it is,
// another name below the support folder. std::nullopt when the name cannot
// be opened safely: the path would exceed kMaxExportPathBytes, the name holds
// a NUL byte (the file system would see a different name), or the name is
// relative while no export root is accepted.
std::optional<std::string> ResolveExportName(std::string_view name);
