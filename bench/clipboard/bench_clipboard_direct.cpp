// ReadClipboardJson called directly on the X11 clipboard that $DISPLAY
// names, without the HTTP server: what the reader itself costs.
//   bench_clipboard_direct <rounds>
// Prints the best time of the rounds in seconds and the reply's size.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktop/clipboard_reader.hpp"
#include "export/export_paths.hpp"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  InitExportPaths();
  double best = 0;
  std::size_t size = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::string reply = ReadClipboardJson();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (i == 0 || took < best) best = took;
    size = reply.size();
  }
  std::printf("%.3f %zu\n", best, size);
  return 0;
}
