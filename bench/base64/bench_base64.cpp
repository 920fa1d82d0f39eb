// Base64 throughput against coreutils in the same run.
//
//   bench_base64 <file>
//
// Prints MB/s (10^6 input bytes per second, best of five runs each) for:
//   stream      read the file in chunks and encode each into a reused buffer:
//               the work `base64 -w0 >/dev/null` does, with our encoder
//   coreutils   base64 -w0 <file> >/dev/null
//   kernel      Base64EncodeTo from the bytes in memory into one output
//               buffer allocated and touched beforehand: the encoder alone
//   encode      Base64Encode of the bytes in memory into a new string
//   file        EncodeFileBase64W: open, read and encode into a new string
//   fresh       only allocating and touching a new string of the output's
//               size: the page-fault cost inside "encode" and "file"
// and the ratios to coreutils. The file is read once beforehand so that all
// runs work from the page cache.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "base/base64.hpp"
#include "base/utf.hpp"
#include "export/file_entry.hpp"

extern char** environ;

namespace {

constexpr int kRuns = 5;

double BestSeconds(const std::function<void()>& run) {
  double best = 1e30;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

// Runs base64 -w0 on `path` with its output going to `output_fd`.
bool RunCoreutils(const std::string& path, int output_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
  char* argv[] = {const_cast<char*>("base64"), const_cast<char*>("-w0"),
                  const_cast<char*>(path.c_str()), nullptr};
  pid_t pid;
  const int rc = posix_spawnp(&pid, "base64", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string CoreutilsOutput(const std::string& path) {
  char scratch[] = "/tmp/bench-base64-XXXXXX";
  const int fd = mkstemp(scratch);
  if (fd < 0) return std::string();
  RunCoreutils(path, fd);
  close(fd);
  std::ifstream in(scratch, std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
  unlink(scratch);
  return text;
}

// Reads `path` in chunks and encodes each into one reused buffer.
std::size_t StreamEncode(const std::string& path) {
  constexpr std::size_t kChunk = 3 * 128 * 1024;
  static unsigned char chunk[kChunk];
  static char text[kChunk / 3 * 4];
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t total = 0;
  for (;;) {
    std::size_t got = 0;
    while (got < kChunk) {
      const ssize_t n = read(fd, chunk + got, kChunk - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got == 0) break;
    total += Base64EncodeTo(chunk, got, text);
    if (got < kChunk) break;
  }
  close(fd);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <file>\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  std::ifstream in(path, std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  if (bytes.empty()) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  const double megabytes = static_cast<double>(bytes.size()) / 1e6;
  const std::u16string wide_path = Utf8ToWide(path);

  // Same output as coreutils, checked once outside the timings.
  const std::string ours = EncodeFileBase64W(wide_path);
  if (ours != CoreutilsOutput(path) || ours != Base64Encode(bytes)) {
    std::fprintf(stderr, "outputs differ from base64 -w0\n");
    return 1;
  }

  const double stream = BestSeconds([&] {
    if (StreamEncode(path) != ours.size()) std::abort();
  });
  std::string reused(ours.size(), '\0');
  const double kernel = BestSeconds([&] {
    const std::size_t n = Base64EncodeTo(
        reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &reused[0]);
    if (n != ours.size()) std::abort();
  });
  const double encode = BestSeconds([&] {
    const std::string text = Base64Encode(bytes);
    if (text.size() != ours.size()) std::abort();
  });
  const double file = BestSeconds([&] {
    const std::string text = EncodeFileBase64W(wide_path);
    if (text.size() != ours.size()) std::abort();
  });
  const double fresh = BestSeconds([&] {
    std::string text(ours.size(), '\0');
    if (text.size() != ours.size()) std::abort();
  });
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  bool coreutils_ok = true;
  const double coreutils = BestSeconds([&] { coreutils_ok &= RunCoreutils(path, null_fd); });
  close(null_fd);
  if (!coreutils_ok) {
    std::fprintf(stderr, "base64 -w0 failed\n");
    return 1;
  }

  std::printf("input: %s, %.1f MB\n", path.c_str(), megabytes);
  const auto line = [&](const char* name, double seconds) {
    std::printf("%-34s %8.0f MB/s  %.3f s  %.2fx coreutils\n", name,
                megabytes / seconds, seconds, coreutils / seconds);
  };
  line("stream (chunks, reused buffer)", stream);
  line("coreutils (base64 -w0 >/dev/null)", coreutils);
  line("kernel (encoder alone, in memory)", kernel);
  line("encode (Base64Encode, new string)", encode);
  line("file (EncodeFileBase64W)", file);
  std::printf("%-34s %8s       %.3f s\n", "fresh output string only", "", fresh);
  return 0;
}
