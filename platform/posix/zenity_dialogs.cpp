#include "platform/posix/zenity_dialogs.hpp"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {
namespace {

// A box is for one short sentence; anything longer is cut.
constexpr std::size_t kMaxTextBytes = 4096;

bool NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

}  // namespace

ZenityDialogs::ZenityDialogs(std::string program, std::chrono::seconds timeout, std::string title,
                             std::chrono::milliseconds grace)
    : program_(std::move(program)),
      // zenity takes a time-out of 0 as none at all.
      timeout_(std::max(timeout, std::chrono::seconds(1))),
      title_(std::move(title)),
      grace_(std::max(grace, std::chrono::milliseconds(0))) {}

bool ZenityDialogs::HasDisplay() { return NonEmptyEnv("DISPLAY") || NonEmptyEnv("WAYLAND_DISPLAY"); }

void ZenityDialogs::ShowMessageBox(const std::string& text) {
  if (!HasDisplay()) return;

  std::string shown = text.substr(0, kMaxTextBytes);
  std::vector<std::string> args = {program_,
                                   "--error",
                                   "--no-markup",
                                   "--title=" + title_,
                                   "--text=" + shown,
                                   "--timeout=" + std::to_string(timeout_.count())};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The box must not keep the server's sockets or pipes open.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  pid_t pid = -1;
  int rc = posix_spawnp(&pid, program_.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return;  // no dialog program: nothing to show

  const auto deadline = std::chrono::steady_clock::now() + timeout_ + grace_;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::unique_ptr<Dialogs> Dialogs::CreatePlatformBackend() { return std::make_unique<ZenityDialogs>(); }

}  // namespace platform
