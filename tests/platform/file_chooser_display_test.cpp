// The real zenity chooser on an Xvfb display of the test's own, found with
// the window layer and answered with xdotool as a user would.

// gtest before Xlib: Xlib's macros (None, Bool) would break gtest's names.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "platform/posix/zenity_file_chooser.hpp"
#include "platform/x11/top_level_windows.hpp"
#include "tests/platform/top_level_windows_x11_harness.hpp"

extern char** environ;

namespace platform {
namespace {

using windows_test::Eventually;
using windows_test::TempDir;
using windows_test::XServer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool OnPath(const char* program) {
  return system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs xdotool with `args`, under a UTF-8 locale whatever the test's is;
// false when it fails or takes over 10 s.
bool Xdotool(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"env", "-u", "LC_ALL", "LC_CTYPE=C.UTF-8", "xdotool"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "env", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  const bool ended = Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10s);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const std::vector<FileFilter> kFilters = {{"Word", {"*.docx", "*.doc"}}, {"Text", {"*.txt"}}};

class ZenityChooserOnXvfb : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!OnPath("zenity") || !OnPath("Xvfb") || !OnPath("xdotool")) GTEST_SKIP() << "zenity, Xvfb or xdotool missing";
    if (GetParam() && !OnPath("openbox")) GTEST_SKIP() << "openbox missing";
    server_ = std::make_unique<XServer>(GetParam());
    ASSERT_FALSE(server_->display().empty()) << "the X server did not start";
    // GTK keeps its settings and recent files here; no session bus, no
    // accessibility bus to wait for.
    Set("DISPLAY", server_->display());
    Set("HOME", home_.path());
    Set("XDG_RUNTIME_DIR", home_.path());
    Set("NO_AT_BRIDGE", "1");
    Set("GSETTINGS_BACKEND", "memory");
    chmod(home_.path().c_str(), 0700);
    windows_ = std::make_unique<X11TopLevelWindows>();
  }

  void TearDown() override {
    // A chooser still open ends with its display.
    if (server_) server_->Kill();
    if (chooser_.valid()) chooser_.wait();
    for (auto& [name, value] : saved_) {
      if (value.first) setenv(name.c_str(), value.second.c_str(), 1);
      else unsetenv(name.c_str());
    }
  }

  void Set(const std::string& name, const std::string& value) {
    const char* old = getenv(name.c_str());
    saved_.push_back({name, {old != nullptr, old ? old : ""}});
    setenv(name.c_str(), value.c_str(), 1);
  }

  // Opens the chooser on a thread of its own; returns its window.
  WindowId Open(const std::string& title) {
    chooser_ = std::async(std::launch::async, [title] { return ZenityFileChooser().ChooseFile(title, kFilters); });
    WindowId window = 0;
    Eventually([&] { return (window = windows_->FindByTitle(title)) != 0; }, 20s);
    return window;
  }

  // Gives the chooser the focus and sends `keys` (xdotool commands) until
  // it answers; GTK may drop keys that come while it is still settling.
  bool AnswerWith(WindowId window, const std::vector<std::vector<std::string>>& keys) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      windows_->Activate(window);
      std::this_thread::sleep_for(300ms);
      for (const auto& command : keys) Xdotool(command);
      if (chooser_.wait_for(3s) == std::future_status::ready) return true;
    }
    return false;
  }

  TempDir home_;
  std::unique_ptr<XServer> server_;
  std::unique_ptr<X11TopLevelWindows> windows_;
  std::future<std::string> chooser_;

 private:
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

TEST_P(ZenityChooserOnXvfb, ReturnsThePathTheUserTyped) {
  // Under a locale without UTF-8 the chooser would print the path converted.
  Set("LC_ALL", "C");
  const std::string path = home_.path() + "/\xEB\xAC\xB8\xEC\x84\x9C report.docx";  // "문서 report.docx"
  std::ofstream(path) << "x";
  const WindowId window = Open("Docklane chooser test");
  ASSERT_NE(window, 0u) << "no chooser window appeared";
  ASSERT_TRUE(AnswerWith(window, {{"key", "ctrl+l"}, {"type", "--delay", "30", path}, {"key", "Return"}}));
  EXPECT_EQ(chooser_.get(), path);
}

TEST_P(ZenityChooserOnXvfb, EscapeIsACancelledChooser) {
  const WindowId window = Open("Docklane chooser test");
  ASSERT_NE(window, 0u) << "no chooser window appeared";
  ASSERT_TRUE(AnswerWith(window, {{"key", "Escape"}}));
  EXPECT_EQ(chooser_.get(), "");
}

TEST_P(ZenityChooserOnXvfb, TheWindowLayerRenamesMovesAndRaisesTheChooser) {
  const WindowId window = Open("Docklane chooser test");
  ASSERT_NE(window, 0u) << "no chooser window appeared";
  // Its size once the window manager has fitted it to the screen.
  windows_test::WindowClient client(server_->display());
  ASSERT_TRUE(client.WaitShown(window));
  const std::optional<WindowRect> before = windows_->Rect(window);
  ASSERT_TRUE(before.has_value());
  ASSERT_TRUE(windows_->MoveTopmost(window, 0, 200));
  EXPECT_TRUE(Eventually([&] {
    const std::optional<WindowRect> now = windows_->Rect(window);
    return now && now->top == 200 && now->width() == before->width() && now->height() == before->height();
  }));
  const std::string renamed = "\xEB\xAC\xB8\xEC\x84\x9C \xEA\xB0\x80\xEC\xA0\xB8\xEC\x98\xA4\xEA\xB8\xB0";
  ASSERT_TRUE(windows_->SetTitle(window, renamed));
  EXPECT_EQ(windows_->FindByTitle(renamed), window);
  ASSERT_TRUE(windows_->Activate(window));
  EXPECT_TRUE(Eventually([&] { return client.FocusWithin(window); }));
  if (GetParam()) {
    EXPECT_TRUE(client.HasState(window, "_NET_WM_STATE_ABOVE"));
    EXPECT_EQ(client.ActiveWindow(), window);
  }
  ASSERT_TRUE(AnswerWith(window, {{"key", "Escape"}}));
  EXPECT_EQ(chooser_.get(), "");
}

INSTANTIATE_TEST_SUITE_P(Display, ZenityChooserOnXvfb, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Openbox" : "NoWindowManager"; });

}  // namespace
}  // namespace platform
