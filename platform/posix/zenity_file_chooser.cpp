#include "platform/posix/zenity_file_chooser.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

extern char** environ;

namespace platform {
namespace {

// A path is far shorter; more output than this is no answer of the chooser.
constexpr std::size_t kMaxOutputBytes = 64 * 1024;
// The title comes from the request; keep it well inside the argument limit.
constexpr std::size_t kMaxTitleBytes = 8 * 1024;
// Where the child closes descriptors one by one when close_range is missing.
constexpr rlim_t kMaxDescriptorsToClose = 1 << 20;
// The descriptor on which a child that could not exec reports its errno.
constexpr int kExecStatusFd = 3;

bool NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

std::string CutUtf8(const std::string& text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// zenity reads "NAME | PATTERN PATTERN...": the name ends at the first '|'
// and the patterns are split at blanks. Returns nothing for a filter that
// could match no file.
std::optional<std::string> FilterArgument(const FileFilter& filter) {
  std::string patterns;
  for (const std::string& pattern : filter.patterns) {
    if (pattern.empty()) continue;
    // '?' still matches the blank the pattern meant.
    std::string kept = pattern;
    std::replace(kept.begin(), kept.end(), ' ', '?');
    if (!patterns.empty()) patterns += ' ';
    patterns += kept;
  }
  if (patterns.empty()) return std::nullopt;
  std::string name;
  for (const char c : filter.name) {
    if (c == '|') name += "\xC2\xA6";  // U+00A6 BROKEN BAR looks the same
    else name += c;
  }
  return "--file-filter=" + name + " | " + patterns;
}

std::vector<std::string> Arguments(const std::string& program, const std::string& title,
                                   const std::vector<FileFilter>& filters) {
  std::vector<std::string> args = {program, "--file-selection", "--title=" + CutUtf8(title, kMaxTitleBytes)};
  for (const FileFilter& filter : filters) {
    if (std::optional<std::string> argument = FilterArgument(filter)) args.push_back(std::move(*argument));
  }
  return args;
}

// GLib converts what zenity prints to the locale's character set, so under a
// legacy locale (EUC-KR, ISO 8859-1) a Korean path would come back mangled.
// The child gets a UTF-8 character type; the language of its texts stays.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  const char* all = std::getenv("LC_ALL");
  const bool override_all = all && *all;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("LC_ALL=", 0) == 0 || entry.rfind("LC_CTYPE=", 0) == 0) continue;
    // LC_ALL overrode every other setting; its value becomes the default.
    if (override_all && (entry.rfind("LC_", 0) == 0 || entry.rfind("LANG=", 0) == 0)) continue;
    env.push_back(entry);
  }
  if (override_all) env.push_back(std::string("LANG=") + all);
  env.push_back("LC_CTYPE=C.UTF-8");
  return env;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Resolved before forking, so that a missing program costs no child.
std::string FindProgram(const std::string& program) {
  if (program.empty()) return "";
  if (program.find('/') != std::string::npos) return IsExecutableFile(program) ? program : "";
  const char* path = std::getenv("PATH");
  const std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = dirs.find(':', start);
    std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
    if (end == std::string::npos) return "";
    start = end + 1;
  }
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void ExecChild(const char* path, char* const argv[], char* const envp[], int out_fd,
                            int status_fd, pid_t parent, rlim_t max_fd) {
  // Die with Docklane; and it may already have died before the line above.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);

  // The forking thread's mask and ignored signals would carry over.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction fallback;
  std::memset(&fallback, 0, sizeof fallback);
  fallback.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &fallback, nullptr);

  // Lift every descriptor above the ones being set up, so that no dup2 below
  // overwrites another (the parent may run with 0, 1 or 2 closed).
  int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd >= 0) null_fd = fcntl(null_fd, F_DUPFD_CLOEXEC, 10);
  out_fd = fcntl(out_fd, F_DUPFD_CLOEXEC, 10);
  status_fd = fcntl(status_fd, F_DUPFD_CLOEXEC, 10);
  if (status_fd < 0 || dup2(status_fd, kExecStatusFd) < 0) _exit(127);
  fcntl(kExecStatusFd, F_SETFD, FD_CLOEXEC);
  int error = 0;
  if (null_fd < 0 || out_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(null_fd, 2) < 0) {
    error = errno ? errno : EBADF;
  } else {
    // Nothing of the server (sockets, pipes, files) may stay open in the
    // chooser: it would keep them alive as long as the user takes.
#ifdef SYS_close_range
    if (syscall(SYS_close_range, kExecStatusFd + 1, ~0U, 0) != 0)
#endif
      for (rlim_t fd = kExecStatusFd + 1; fd < max_fd; ++fd) close(static_cast<int>(fd));
    execve(path, argv, envp);
    error = errno;
  }
  ssize_t ignored = write(kExecStatusFd, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

// True when the child exited with status 0.
bool Reap(pid_t pid) {
  int status = 0;
  pid_t r;
  while ((r = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  return r == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether the child's exec succeeded: the status pipe closes on exec, or
// brings the errno of a failed one.
bool ExecSucceeded(int status_fd) {
  int error = 0;
  ssize_t n;
  while ((n = read(status_fd, &error, sizeof error)) < 0 && errno == EINTR) {
  }
  return n == 0;
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

enum class ReadResult { kMore, kEnd, kError };

ReadResult ReadSome(int fd, std::string& out) {
  char buffer[4096];
  const std::size_t room = std::min(sizeof buffer, kMaxOutputBytes + 1 - out.size());
  const ssize_t n = read(fd, buffer, room);
  if (n > 0) {
    out.append(buffer, static_cast<std::size_t>(n));
    return ReadResult::kMore;
  }
  if (n == 0) return ReadResult::kEnd;
  return errno == EINTR || errno == EAGAIN ? ReadResult::kMore : ReadResult::kError;
}

// Reads the child's output until it closes it or exits, whichever comes
// first: a helper it left behind (a D-Bus launcher, say) may hold the pipe
// open long after the chooser is gone. Waits for the user, so without a time
// limit. Nothing when the output is too long or cannot be read.
std::optional<std::string> ReadOutput(int out_fd, pid_t pid) {
  int pid_fd = OpenPidFd(pid);
  std::string out;
  bool ok = true;
  for (;;) {
    if (out.size() > kMaxOutputBytes) {
      ok = false;
      break;
    }
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {pid_fd, POLLIN, 0}};
    const int ready = poll(fds, pid_fd >= 0 ? 2 : 1, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (fds[0].revents) {
      const ReadResult r = ReadSome(out_fd, out);
      if (r == ReadResult::kMore) continue;
      ok = r == ReadResult::kEnd;
      break;
    }
    if (pid_fd >= 0 && fds[1].revents) {
      // Gone: what it wrote is in the pipe already.
      fcntl(out_fd, F_SETFL, fcntl(out_fd, F_GETFL) | O_NONBLOCK);
      for (;;) {
        const std::size_t before = out.size();
        const ReadResult r = ReadSome(out_fd, out);
        if (r != ReadResult::kMore || out.size() == before || out.size() > kMaxOutputBytes) break;
      }
      ok = out.size() <= kMaxOutputBytes;
      break;
    }
  }
  CloseFd(pid_fd);
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace

ZenityFileChooser::ZenityFileChooser(std::string program) : program_(std::move(program)) {}

bool ZenityFileChooser::HasDisplay() { return NonEmptyEnv("DISPLAY") || NonEmptyEnv("WAYLAND_DISPLAY"); }

std::string ZenityFileChooser::ChooseFile(const std::string& title, const std::vector<FileFilter>& filters) {
  if (!HasDisplay()) return "";
  const std::string path = FindProgram(program_);
  if (path.empty()) return "";

  // Everything the child needs is built before forking: after fork only
  // async-signal-safe calls are allowed.
  std::vector<std::string> args = Arguments(program_, title, filters);
  std::vector<std::string> env = ChildEnvironment();
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  rlimit limit{};
  const rlim_t max_fd =
      getrlimit(RLIMIT_NOFILE, &limit) == 0 ? std::min(limit.rlim_cur, kMaxDescriptorsToClose) : 1024;

  int out[2] = {-1, -1};
  int status[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return "";
  if (pipe2(status, O_CLOEXEC) != 0) {
    CloseFd(out[0]);
    CloseFd(out[1]);
    return "";
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) ExecChild(path.c_str(), argv.data(), envp.data(), out[1], status[1], parent, max_fd);
  CloseFd(out[1]);
  CloseFd(status[1]);
  if (pid < 0) {
    CloseFd(out[0]);
    CloseFd(status[0]);
    return "";
  }
  const bool started = ExecSucceeded(status[0]);
  CloseFd(status[0]);
  std::optional<std::string> output;
  if (started) output = ReadOutput(out[0], pid);
  CloseFd(out[0]);
  // A child still running here sent too much or could not be read: it gets
  // no further say.
  if (!output) kill(pid, SIGKILL);
  const bool exited_ok = Reap(pid);
  if (!output || !exited_ok) return "";  // cancelled, failed, or no answer we can use

  std::string chosen = std::move(*output);
  if (chosen.find('\0') != std::string::npos) return "";
  if (!chosen.empty() && chosen.back() == '\n') chosen.pop_back();
  return chosen;
}

std::unique_ptr<FileChooser> FileChooser::CreatePlatformBackend() { return std::make_unique<ZenityFileChooser>(); }

}  // namespace platform
