#include "platform/libreoffice/office_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace platform::libreoffice {
namespace {

constexpr const char kWorkDirPrefix[] = "docklane-office-";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// file:// URL of an absolute path, escaping everything but unreserved
// characters and slashes.
std::string FileUrl(const fs::path& p) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : p.string()) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

bool IsDirectoryOfOurs(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// Removes a socket file only when it is one and belongs to us.
void RemoveSocketFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid())
    ::unlink(path.c_str());
}

void RemoveListedSockets(const fs::path& list) {
  std::ifstream in(list);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] == '/') RemoveSocketFile(line);
}

}  // namespace

std::string OfficeProcess::WorkDirName(unsigned instance) {
  return kWorkDirPrefix + std::to_string(::getpid()) + "-" + std::to_string(instance);
}

fs::path DefaultEngineBaseDir() {
  auto dirFromEnv = [](const char* name) -> fs::path {
    const char* v = std::getenv(name);
    if (v == nullptr || v[0] != '/') return {};
    std::error_code ec;
    return fs::is_directory(v, ec) ? fs::path(v) : fs::path();
  };
  if (auto p = dirFromEnv("XDG_RUNTIME_DIR"); !p.empty()) return p;
  if (auto p = dirFromEnv("XDG_CACHE_HOME"); !p.empty()) return p;
  if (auto p = dirFromEnv("HOME"); !p.empty()) {
    std::error_code ec;
    fs::create_directories(p / ".cache", ec);
    if (!ec || fs::is_directory(p / ".cache", ec)) return p / ".cache";
  }
  fs::path fallback = "/tmp/docklane-" + std::to_string(::getuid());
  ::mkdir(fallback.c_str(), 0700);
  return fallback;
}

OfficeProcess::OfficeProcess(fs::path programDir, fs::path workDir, bool visible)
    : programDir_(std::move(programDir)), workDir_(std::move(workDir)), visible_(visible) {}

OfficeProcess::~OfficeProcess() {
  Stop(std::chrono::milliseconds(0));
  RemoveWorkDir();
}

bool OfficeProcess::Installed(const fs::path& programDir) {
  return ::access((programDir / "soffice.bin").c_str(), X_OK) == 0 &&
         ::access((programDir / "types.rdb").c_str(), R_OK) == 0 &&
         ::access((programDir / "fundamentalrc").c_str(), R_OK) == 0;
}

std::string OfficeProcess::ProductVersion(const fs::path& programDir) {
  const std::string xcd = ReadFile(programDir.parent_path() / "share/registry/main.xcd");
  const std::string key = "oor:name=\"ooSetupVersion\"";
  std::size_t at = xcd.find(key);
  while (at != std::string::npos) {
    const std::size_t close = xcd.find('>', at);
    // Skip the schema declaration (it carries oor:type); the value follows
    // the plain property element.
    if (close != std::string::npos && xcd.compare(close - 1, 1, "/") != 0 &&
        xcd.substr(at, close - at).find("oor:type") == std::string::npos) {
      const std::size_t v = xcd.find("<value>", close);
      const std::size_t e = xcd.find("</value>", v);
      if (v != std::string::npos && e != std::string::npos && v - close < 64 && e - v < 32)
        return xcd.substr(v + 7, e - v - 7);
    }
    at = xcd.find(key, at + key.size());
  }
  return {};
}

void OfficeProcess::SeedProfile() {
  const fs::path user = workDir_ / "profile" / "user";
  fs::create_directories(user);
  const fs::path xcu = user / "registrymodifications.xcu";
  if (fs::exists(xcu)) return;
  auto item = [](const char* path, const char* prop, const std::string& value) {
    return std::string("<item oor:path=\"") + path + "\"><prop oor:name=\"" + prop +
           "\" oor:op=\"fuse\"><value>" + value + "</value></prop></item>\n";
  };
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
      "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  // Without the last version the office treats every start as an upgrade and
  // runs its graphics self-test, which costs seconds.
  const std::string version = ProductVersion(programDir_);
  if (!version.empty()) text += item("/org.openoffice.Setup/Product", "ooSetupLastVersion", version);
  // No lock files beside the user's documents or the export folder.
  text += item("/org.openoffice.Office.Common/Misc", "UseDocumentOOoLockFile", "false");
  text += item("/org.openoffice.Office.Common/Misc", "UseDocumentSystemFileLocking", "false");
  text += item("/org.openoffice.Office.Common/Misc", "UseLocking", "false");
  // A page edited in a window is saved as a page, without asking whether to
  // keep the format, in UTF-8 (76), which is turned into the page's own code
  // page afterwards.
  text += item("/org.openoffice.Office.Common/Save/Document", "WarnAlienFormat", "false");
  text += item("/org.openoffice.Office.Common/Filter/HTML/Export", "Encoding", "76");
  text += item("/org.openoffice.Office.Common/Misc", "ShowTipOfTheDay", "false");
  text += item("/org.openoffice.Office.Common/Misc", "FirstRun", "false");
  // Documents come from anywhere: never run their macros.
  text += item("/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3");
  text += item("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true");
  text += item("/org.openoffice.Office.Recovery/RecoveryInfo", "Enabled", "false");
  text += item("/org.openoffice.Office.Recovery/AutoSave", "Enabled", "false");
  text += "</oor:items>\n";
  std::ofstream(xcu, std::ios::binary) << text;
}

void OfficeProcess::Spawn(const std::string& pipeName) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ > 0) throw std::runtime_error("the office is already running");
  std::error_code ec;
  fs::create_directories(workDir_, ec);
  ::chmod(workDir_.c_str(), 0700);
  if (!IsDirectoryOfOurs(workDir_))
    throw std::runtime_error("cannot create the engine folder " + workDir_.string());
  fs::create_directories(TempDir(), ec);
  fs::create_directories(StagingDir(), ec);
  SeedProfile();

  const std::string program = (programDir_ / "soffice.bin").string();
  std::vector<std::string> args = {
      program,
      // A visible office starts without a window of its own too; only the
      // documents it is asked to show appear.
      "--invisible",
      "--norestore",
      "--nologo",
      "--nodefault",
      "--nolockcheck",
      "-env:UserInstallation=" + FileUrl(workDir_ / "profile"),
      "--accept=pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext",
  };
  if (!visible_) args.insert(args.begin() + 1, "--headless");
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (std::strncmp(*e, "TMPDIR=", 7) == 0 || std::strncmp(*e, "TMP=", 4) == 0 ||
        std::strncmp(*e, "TEMP=", 5) == 0 || std::strncmp(*e, "GSETTINGS_BACKEND=", 18) == 0)
      continue;
    env.emplace_back(*e);
  }
  env.push_back("TMPDIR=" + TempDir().string());
  // Settings stay in memory: nothing written to the user's dconf database.
  env.push_back("GSETTINGS_BACKEND=memory");
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  // The known pipe socket, recorded before the start so that a crash during
  // start-up still gets it removed.
  const std::string pipeSocket = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipeName;
  sockets_ = {pipeSocket};
  std::ofstream(workDir_ / "sockets", std::ios::trunc) << pipeSocket << "\n";

  struct rlimit rl {};
  int maxFd = 4096;
  if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < 65536)
    maxFd = static_cast<int>(rl.rlim_cur);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("cannot start the office: ") + std::strerror(errno));
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    ::setsid();
    // The office must not outlive Docklane, even when Docklane is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) ::sigaction(s, &dfl, nullptr);
    const int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    // Docklane's listening socket and pipes must not leak into the office.
    if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
      for (int fd = 3; fd < maxFd; ++fd) ::close(fd);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  pid_ = pid;
  exitStatus_ = -1;
}

bool OfficeProcess::ReapLocked(bool wait) {
  if (pid_ <= 0) return true;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, wait ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  if (r == pid_) {
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    exitStatus_ = 255;  // already reaped elsewhere
  }
  // Helpers of the office in its process group go with it.
  ::kill(-pid_, SIGKILL);
  pid_ = -1;
  return true;
}

bool OfficeProcess::Running() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !ReapLocked(false);
}

int OfficeProcess::ExitStatus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return exitStatus_;
}

pid_t OfficeProcess::Pid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pid_;
}

void OfficeProcess::RecordSockets() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ <= 0) return;
  std::set<std::string> inodes;
  std::error_code ec;
  const fs::path fdDir = "/proc/" + std::to_string(pid_) + "/fd";
  for (fs::directory_iterator it(fdDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string target = fs::read_symlink(it->path(), ec).string();
    if (!ec && target.compare(0, 8, "socket:[") == 0)
      inodes.insert(target.substr(8, target.size() - 9));
  }
  std::ifstream unix("/proc/net/unix");
  std::string line;
  std::getline(unix, line);  // header
  while (std::getline(unix, line)) {
    std::istringstream fields(line);
    std::string num, refs, proto, flags, type, st, inode, path;
    if (!(fields >> num >> refs >> proto >> flags >> type >> st >> inode >> path)) continue;
    if (path.empty() || path[0] != '/' || inodes.count(inode) == 0) continue;
    if (std::find(sockets_.begin(), sockets_.end(), path) == sockets_.end()) sockets_.push_back(path);
  }
  std::ofstream out(workDir_ / "sockets", std::ios::trunc);
  for (const auto& s : sockets_) out << s << "\n";
}

void OfficeProcess::RemoveSockets() {
  for (const auto& s : sockets_) RemoveSocketFile(s);
  sockets_.clear();
}

void OfficeProcess::Stop(std::chrono::milliseconds grace) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ > 0) {
    if (grace.count() > 0 && !ReapLocked(false)) {
      ::kill(-pid_, SIGTERM);
      const auto until = std::chrono::steady_clock::now() + grace;
      while (!ReapLocked(false) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ > 0) {
      ::kill(-pid_, SIGKILL);
      // A killed process is reaped at once unless it sits in an
      // uninterruptible wait; do not hang on one that does.
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (!ReapLocked(false) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  RemoveSockets();
}

void OfficeProcess::RemoveWorkDir() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ > 0) return;  // still in use
  std::error_code ec;
  if (IsDirectoryOfOurs(workDir_)) fs::remove_all(workDir_, ec);
}

void OfficeProcess::RemoveStaleWorkDirs(const fs::path& baseDir) {
  std::error_code ec;
  for (fs::directory_iterator it(baseDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, sizeof kWorkDirPrefix - 1, kWorkDirPrefix) != 0) continue;
    const long pid = std::strtol(name.c_str() + sizeof kWorkDirPrefix - 1, nullptr, 10);
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)) continue;
    if (!IsDirectoryOfOurs(it->path())) continue;
    RemoveListedSockets(it->path() / "sockets");
    std::error_code rec;
    fs::remove_all(it->path(), rec);
  }
}

}  // namespace platform::libreoffice
