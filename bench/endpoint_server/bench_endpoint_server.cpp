// The endpoint front on a loopback port, for the run.sh scripts of the
// endpoint benchmarks ("/get_files", "/get_version_info",
// "/get_clipboard_text" on the X11 clipboard that $DISPLAY names).
//   bench_endpoint_server <port>
// Prints "ready" once it listens; runs until killed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "endpoints/endpoint_front.hpp"
#include "export/export_paths.hpp"
#include "http/server.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <port>\n", argv[0]);
    return 2;
  }
  std::string reason;
  if (!InitExportPaths(&reason)) std::fprintf(stderr, "export root refused: %s\n", reason.c_str());
  HttpCore::Server server(static_cast<std::uint16_t>(std::atoi(argv[1])));
  server.settings.bind_address = "127.0.0.1";
  server.default_handlers["GET"] = OnGetRequest;
  server.default_handlers["POST"] = OnPostRequest;
  server.error_hook = [](std::shared_ptr<HttpCore::ServerBase::Request>,
                         const boost::system::error_code&) {};
  server.bind_listener();
  std::printf("ready\n");
  std::fflush(stdout);
  server.listen_and_run();
  return 0;
}
