#include "tests/platform/clipboard_x11_harness.hpp"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace clipboard_test {
namespace {

std::vector<std::string> EnvironmentWithDisplay(const std::string& display) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
  }
  if (!display.empty()) env.push_back("DISPLAY=" + display);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

void KillAndReap(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  pid = -1;
}

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void AppendBigEndian(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void AppendChunk(std::string& out, const char* type, const std::string& data) {
  AppendBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  out += typed;
  AppendBigEndian(out, Crc32(typed));
}

}  // namespace

// Children die with the test (PR_SET_PDEATHSIG), also when it crashes, so
// that no owner or server is left running.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment, int keep_fd) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = environment;
  std::vector<char*> arg_ptrs = Pointers(args);
  std::vector<char*> env_ptrs = Pointers(env);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  const int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, 0);
  dup2(null_fd, 1);
  dup2(null_fd, 2);
  if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
  execvpe(arg_ptrs[0], arg_ptrs.data(), env_ptrs.data());
  _exit(127);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& display)
    : pid_(Spawn(argv, EnvironmentWithDisplay(display), -1)) {}

ChildProcess::~ChildProcess() { Kill(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

void ChildProcess::Kill() { KillAndReap(pid_); }

Xvfb::Xvfb() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) environment.emplace_back(*e);
  // -noreset: the server would otherwise restart, refusing connections for a
  // moment, whenever its last client goes.
  pid_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-noreset", "-screen", "0",
                "320x240x24"},
               environment, fds[1]);
  close(fds[1]);
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char buffer[16];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<std::size_t>(n));
    if (number.find('\n') != std::string::npos) break;
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == '\r')) number.pop_back();
  if (number.empty()) {
    KillAndReap(pid_);
    return;
  }
  display_ = ":" + number;
}

Xvfb::~Xvfb() { Kill(); }

void Xvfb::Kill() { KillAndReap(pid_); }

bool WaitForClipboardOwner(const std::string& display, bool owned, std::chrono::milliseconds timeout) {
  Display* dpy = XOpenDisplay(display.c_str());
  if (!dpy) return false;
  const Atom clipboard = XInternAtom(dpy, "CLIPBOARD", False);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool reached = false;
  while (!(reached = ((XGetSelectionOwner(dpy, clipboard) != None) == owned)) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  XCloseDisplay(dpy);
  return reached;
}

XclipOwner::XclipOwner(const std::string& display, const std::string& target, const std::string& data)
    : display_(display) {
  char path[] = "/tmp/clipboard-owner-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return;
  path_ = path;
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = write(fd, data.data() + written, data.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  close(fd);
  std::vector<std::string> args = {"xclip", "-quiet", "-selection", "clipboard", "-i"};
  if (!target.empty()) {
    args.push_back("-t");
    args.push_back(target);
  }
  args.push_back(path_);
  // -quiet keeps xclip in the foreground, so that its id is the one to end.
  process_ = ChildProcess(args, display);
  owns_ = process_.pid() > 0 && WaitForClipboardOwner(display, true);
}

XclipOwner::~XclipOwner() {
  process_.Kill();
  WaitForClipboardOwner(display_, false, std::chrono::milliseconds(2000));
  if (!path_.empty()) unlink(path_.c_str());
}

SilentOwner::SilentOwner(const std::string& display) : display_(display) {
  process_ = ChildProcess({DL_CLIPBOARD_SILENT_OWNER}, display);
  owns_ = process_.pid() > 0 && WaitForClipboardOwner(display, true);
}

SilentOwner::~SilentOwner() {
  process_.Kill();
  WaitForClipboardOwner(display_, false, std::chrono::milliseconds(2000));
}

std::string MakePng(std::size_t total_size) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  // 1x1, 8-bit greyscale.
  std::string header;
  AppendBigEndian(header, 1);
  AppendBigEndian(header, 1);
  header += std::string("\x08\x00\x00\x00\x00", 5);
  AppendChunk(png, "IHDR", header);
  // One row: filter byte 0 and one grey pixel, as a stored zlib block.
  const std::string pixels("\x00\x80", 2);
  std::string zlib("\x78\x01\x01\x02\x00\xFD\xFF", 7);
  zlib += pixels;
  std::uint32_t a = 1, b = 0;
  for (const char c : pixels) {
    a = (a + static_cast<unsigned char>(c)) % 65521;
    b = (b + a) % 65521;
  }
  AppendBigEndian(zlib, (b << 16) | a);
  const std::size_t fixed = png.size() + (12 + zlib.size()) + 12 + 12;
  if (total_size > fixed) {
    // An ancillary private chunk carries the padding.
    std::string padding(total_size - fixed, '\0');
    for (std::size_t i = 0; i < padding.size(); ++i) padding[i] = static_cast<char>((i * 131) >> 3);
    AppendChunk(png, "prVt", padding);
  }
  AppendChunk(png, "IDAT", zlib);
  AppendChunk(png, "IEND", "");
  return png;
}

TempDir::TempDir() {
  char path[] = "/tmp/clipboard-test-XXXXXX";
  if (mkdtemp(path)) path_ = path;
  chmod(path_.c_str(), 0700);
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& data) const {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return file;
}

}  // namespace clipboard_test
