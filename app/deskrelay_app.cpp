#include "app/deskrelay_app.hpp"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/font_cache.hpp"
#include "app/globals.hpp"
#include "app/pipe_server.hpp"
#include "app/process_exit.hpp"
#include "app/server_thread.hpp"
#include "app/trace.hpp"
#include "desktop/font_list.hpp"
#include "export/export_paths.hpp"
#ifdef DL_HAVE_LIBREOFFICE
#include "platform/libreoffice/servers.hpp"
#endif

CDeskrelayApp theApp;

namespace {

// Stands in for the registration of "HTML Format" with the clipboard.
constexpr unsigned kHtmlClipboardFormatId = 0xC0DE;

}  // namespace

void CDeskrelayApp::InitInstance() {
  // The common controls, the dialog framework and GDI+ have no part to play
  // without a window; the font list comes from fontconfig directly.
  StoreFontListCache(GetFontListJson());
  g_htmlClipboardFormat = kHtmlClipboardFormatId;
  ShellTrace("dialog opened");

  ConfigureHttpServer();
  std::string reason;
  if (!InitExportPaths(&reason)) {
    // The document endpoints then report their failures in their replies;
    // the rest of Docklane serves on.
    std::fprintf(stderr, "docklane: export folder unusable: %s\n", reason.c_str());
  }

#ifdef DL_HAVE_LIBREOFFICE
  // "Word.Application" and its siblings are served by the document engine;
  // the engine itself starts only when a conversion first needs it.
  platform::libreoffice::RegisterLibreOfficeServers();
#endif

  // Ends the process if another instance runs; otherwise returns once a
  // client has connected and the pipe and server threads run.
  if (PipeServerStart() != 1) {
    // Nothing would ever serve: the one client is gone and the pipe
    // admits no other, so end rather than linger holding the pipe.
    EndProcess(1);
  }

  // The main thread has nothing left to do.
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}
