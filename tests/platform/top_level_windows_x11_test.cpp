// The X11 backend on private Xvfb displays, without a window manager and
// with openbox: the shared contract, the title properties it reads and
// writes, and displays that are missing or stop answering.

// gtest before Xlib: Xlib's macros (None, Bool) would break gtest's names.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/x11/top_level_windows.hpp"
#include "tests/platform/top_level_windows_contract.hpp"
#include "tests/platform/top_level_windows_x11_harness.hpp"

namespace windows_test {
namespace {

using platform::WindowId;
using platform::WindowRect;
using platform::X11TopLevelWindows;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// One server of each kind for the tests of a process.
const std::string& SharedDisplay(bool window_manager) {
  static XServer* plain = nullptr;
  static XServer* managed = nullptr;
  XServer*& server = window_manager ? managed : plain;
  if (!server) {
    server = new XServer(window_manager);  // ended at exit, before static destruction
    static const bool registered = [] {
      std::atexit([] {
        delete plain;
        delete managed;
      });
      return true;
    }();
    (void)registered;
  }
  return server->display();
}

platform::X11TopLevelWindowsOptions On(const std::string& display) {
  platform::X11TopLevelWindowsOptions options;
  options.display = display;
  return options;
}

class X11Harness final : public WindowsHarness {
 public:
  X11Harness(const std::string& display, bool window_manager)
      : client_(display), window_manager_(window_manager), windows_(On(display)) {}
  bool ok() const { return client_.ok(); }

  WindowId Create(const std::string& title, WindowRect rect, WindowId owner, bool shown) override {
    return client_.Create(title, rect, owner, shown);
  }
  void Destroy(WindowId window) override { client_.Destroy(window); }
  std::optional<WindowRect> ObservedRect(WindowId window) override { return client_.ClientRect(window); }
  std::string ObservedTitle(WindowId window) override {
    const auto name = client_.Property(window, "_NET_WM_NAME");
    return name ? name->second : "";
  }
  bool KeptAbove(WindowId window) override {
    return window_manager_ ? client_.HasState(window, "_NET_WM_STATE_ABOVE") : client_.OnTop(window);
  }
  WindowId Focused() override {
    const Window focus = client_.Focus();
    // Under a manager it must also say so.
    if (window_manager_ && client_.ActiveWindow() != focus) return 0;
    return focus;
  }
  bool StackedOver(WindowId a, WindowId b) override { return client_.StackedOver(a, b); }
  bool Shown(WindowId window) override { return client_.Viewable(window); }
  platform::TopLevelWindows& windows() override { return windows_; }

 private:
  WindowClient client_;
  bool window_manager_;
  X11TopLevelWindows windows_;
};

std::unique_ptr<WindowsHarness> MakeHarness(bool window_manager) {
  const std::string& display = SharedDisplay(window_manager);
  if (display.empty()) return nullptr;
  auto harness = std::make_unique<X11Harness>(display, window_manager);
  if (!harness->ok()) return nullptr;
  return harness;
}

INSTANTIATE_TEST_SUITE_P(X11, TopLevelWindowsContractTest,
                         ::testing::Values(HarnessFactory{"NoWindowManager", [] { return MakeHarness(false); }},
                                           HarnessFactory{"Openbox", [] { return MakeHarness(true); }}),
                         [](const auto& info) { return info.param.name; });

class X11TopLevelWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = SharedDisplay(false);
    if (display_.empty()) GTEST_SKIP() << "Xvfb could not be started";
    client_ = std::make_unique<WindowClient>(display_);
    ASSERT_TRUE(client_->ok());
  }
  std::string display_;
  std::unique_ptr<WindowClient> client_;
};

TEST_F(X11TopLevelWindowsTest, TitlesAreReadFromEitherNameProperty) {
  const struct {
    const char* what;
    const char* property;
    const char* type;
    std::string bytes;
    std::string title;  // searched for
    bool found;
  } cases[] = {
      {"WM_NAME in Latin-1", "WM_NAME", "STRING", "Caf\xE9 latin", "Caf\xC3\xA9 latin", true},
      {"WM_NAME in UTF-8", "WM_NAME", "UTF8_STRING", "\xEC\x97\xB4\xEA\xB8\xB0 utf8", "\xEC\x97\xB4\xEA\xB8\xB0 utf8",
       true},
      {"WM_NAME as compound text with KS C 5601", "WM_NAME", "COMPOUND_TEXT",
       "\x1b\x24\x28\x43\x3f\x2d\x31\x62\x1b\x28\x42 caf\xe9", "\xEC\x97\xB4\xEA\xB8\xB0 caf\xC3\xA9", true},
      {"WM_NAME as plain compound text", "WM_NAME", "COMPOUND_TEXT", "Plain \xe9", "Plain \xC3\xA9", true},
      {"a _NET_WM_NAME of 4 KiB", "_NET_WM_NAME", "UTF8_STRING", std::string(4096, 'a'), std::string(4096, 'a'),
       true},
      {"a longer one is not read", "_NET_WM_NAME", "UTF8_STRING", std::string(4097, 'b'), std::string(4097, 'b'),
       false},
      {"nor its first 4 KiB", "_NET_WM_NAME", "UTF8_STRING", std::string(4097, 'c'), std::string(4096, 'c'), false},
      {"a name of an unknown type", "WM_NAME", "INTEGER", "Typed", "Typed", false},
  };
  X11TopLevelWindows windows(On(display_));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Window window = client_->CreateTitledBy(c.property, c.type, 8, c.bytes);
    EXPECT_EQ(windows.FindByTitle(c.title), c.found ? window : 0u);
    client_->Destroy(window);
  }
}

TEST_F(X11TopLevelWindowsTest, SetTitleWritesBothNamesAsReadersExpectThem) {
  X11TopLevelWindows windows(On(display_));
  const Window window = client_->Create("Before", {10, 10, 110, 110});
  const struct {
    std::string title;
    std::pair<std::string, std::string> wm_name;
  } cases[] = {
      {"Caf\xC3\xA9", {"STRING", "Caf\xE9"}},
      {"\xEC\x97\xB4\xEA\xB8\xB0", {"COMPOUND_TEXT", "\x1b\x24\x28\x43\x3f\x2d\x31\x62"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ASSERT_TRUE(windows.SetTitle(window, c.title));
    EXPECT_EQ(client_->Property(window, "_NET_WM_NAME"), std::make_pair(std::string("UTF8_STRING"), c.title));
    EXPECT_EQ(client_->Property(window, "WM_NAME"), c.wm_name);
  }
  EXPECT_FALSE(windows.SetTitle(window, std::string(64 * 1024 + 1, 'x')));
}

TEST_F(X11TopLevelWindowsTest, CallsFromSeveralThreadsAtOnce) {
  const Window window = client_->Create("Shared", {10, 10, 110, 110});
  X11TopLevelWindows windows(On(display_));
  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        if (windows.FindByTitle("Shared") == window && windows.Rect(window)) ++found;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(found, 40);
}

// A chooser's window has its title before it is shown, so it can be found
// and moved just before its owner shows it.
class X11WindowAboutToBeShown : public ::testing::TestWithParam<bool> {};

TEST_P(X11WindowAboutToBeShown, IsMovedAndKeptAboveOnceShown) {
  const std::string& display = SharedDisplay(GetParam());
  if (display.empty()) GTEST_SKIP() << "the X server could not be started";
  WindowClient client(display);
  ASSERT_TRUE(client.ok());
  const Window window = client.Create("Soon", {30, 40, 230, 190}, 0, false);
  X11TopLevelWindows windows(On(display));
  ASSERT_EQ(windows.FindByTitle("Soon"), window);
  std::future<bool> moved = std::async(std::launch::async, [&] { return windows.MoveTopmost(window, 70, 200); });
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(client.Show(window));
  EXPECT_TRUE(moved.get());
  EXPECT_TRUE(Eventually([&] { return client.ClientRect(window) == WindowRect{70, 200, 270, 350}; }));
  EXPECT_TRUE(Eventually([&] { return GetParam() ? client.HasState(window, "_NET_WM_STATE_ABOVE") : client.OnTop(window); }));
}

INSTANTIATE_TEST_SUITE_P(X11, X11WindowAboutToBeShown, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Openbox" : "NoWindowManager"; });

TEST(X11TopLevelWindowsWithoutDisplay, EveryCallFailsAtOnce) {
  const char* saved = getenv("DISPLAY");
  const std::string display = saved ? saved : "";
  struct {
    const char* what;
    std::function<void()> setup;
    std::string option;
  } cases[] = {
      {"no DISPLAY", [] { unsetenv("DISPLAY"); }, ""},
      {"an empty DISPLAY", [] { setenv("DISPLAY", "", 1); }, ""},
      {"a display no server runs", [] { unsetenv("DISPLAY"); }, ":4093"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.setup();
    X11TopLevelWindows windows(On(c.option));
    const auto start = Clock::now();
    EXPECT_EQ(windows.FindByTitle("Open"), 0u);
    EXPECT_EQ(windows.Rect(0x400001), std::nullopt);
    EXPECT_EQ(windows.ParentRect(0x400001), std::nullopt);
    EXPECT_FALSE(windows.SetTitle(0x400001, "x"));
    EXPECT_FALSE(windows.MoveTopmost(0x400001, 0, 200));
    EXPECT_FALSE(windows.Activate(0x400001));
    EXPECT_LT(Clock::now() - start, 1s);
  }
  if (saved) setenv("DISPLAY", display.c_str(), 1);
  else unsetenv("DISPLAY");
}

TEST(X11TopLevelWindowsStoppedServer, CostsACallerAtMostTheTimeLimit) {
  XServer server(false);
  if (server.display().empty()) GTEST_SKIP() << "Xvfb could not be started";
  WindowClient client(server.display());
  ASSERT_TRUE(client.ok());
  const Window window = client.Create("Frozen", {10, 10, 110, 110});
  auto options = On(server.display());
  options.call_timeout = 500ms;
  X11TopLevelWindows windows(options);
  ASSERT_EQ(windows.FindByTitle("Frozen"), window);

  ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
  struct Resume {
    pid_t pid;
    ~Resume() { kill(pid, SIGCONT); }
  } resume{server.pid()};
  auto start = Clock::now();
  EXPECT_EQ(windows.FindByTitle("Frozen"), 0u);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 450ms);
  EXPECT_LT(took, 1500ms);
  // While that call is still blocked, the next ones fail at once.
  start = Clock::now();
  EXPECT_FALSE(windows.Activate(window));
  EXPECT_EQ(windows.Rect(window), std::nullopt);
  EXPECT_LT(Clock::now() - start, 100ms);

  kill(server.pid(), SIGCONT);
  EXPECT_TRUE(Eventually([&] { return windows.FindByTitle("Frozen") == window; }));
}

}  // namespace
}  // namespace windows_test
