// The X11 backend on a private Xvfb, with xclip and a silent client as the
// clipboard's owners: the shared contract, incremental transfers, limits and
// every way the owner or the display can fail to answer.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "platform/x11/clipboard.hpp"
#include "tests/platform/clipboard_contract.hpp"
#include "tests/platform/clipboard_x11_harness.hpp"

namespace clipboard_test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// One server for the tests of a process.
const std::string& SharedDisplay() {
  static Xvfb* server = new Xvfb;  // ended by its id at exit, see below
  static const bool registered = [] {
    std::atexit([] { server->Kill(); });
    return true;
  }();
  (void)registered;
  return server->display();
}

class X11Harness final : public ClipboardHarness {
 public:
  explicit X11Harness(const std::string& display) : display_(display), clipboard_(Options(display)) {}
  static platform::X11ClipboardOptions Options(const std::string& display) {
    platform::X11ClipboardOptions options;
    options.display = display;
    return options;
  }
  void Offer(const std::string& target, const std::string& data) override {
    owner_.reset();
    owner_ = std::make_unique<XclipOwner>(display_, target, data);
    ASSERT_TRUE(owner_->owns());
  }
  void Clear() override { owner_.reset(); }
  platform::Clipboard& clipboard() override { return clipboard_; }

 private:
  std::string display_;
  platform::X11Clipboard clipboard_;
  std::unique_ptr<XclipOwner> owner_;
};

std::unique_ptr<ClipboardHarness> MakeX11Harness() {
  if (SharedDisplay().empty()) return nullptr;
  return std::make_unique<X11Harness>(SharedDisplay());
}

INSTANTIATE_TEST_SUITE_P(X11, ClipboardContractTest, ::testing::Values(HarnessFactory{"X11", MakeX11Harness}),
                         [](const auto& info) { return info.param.name; });

class X11ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SharedDisplay().empty()) GTEST_SKIP() << "Xvfb could not be started";
    options_.display = SharedDisplay();
  }
  platform::X11ClipboardOptions options_;
};

// Large transfers (INCR) are read whole in the clipboard reply's tests.
TEST_F(X11ClipboardTest, DataBeyondTheLimitIsRefusedQuickly) {
  options_.limits.max_png_bytes = 1024 * 1024;
  platform::X11Clipboard clipboard(options_);
  XclipOwner owner(options_.display, "image/png", MakePng(3 * 1024 * 1024));
  ASSERT_TRUE(owner.owns());
  const auto start = Clock::now();
  EXPECT_TRUE(clipboard.Read().png.empty());
  EXPECT_LT(Clock::now() - start, milliseconds(1500));
}

TEST_F(X11ClipboardTest, OwnerThatNeverAnswersGivesEmptyContentsInBoundedTime) {
  platform::X11Clipboard clipboard(options_);
  {
    SilentOwner owner(options_.display);
    ASSERT_TRUE(owner.owns());
    const auto start = Clock::now();
    const platform::ClipboardContents c = clipboard.Read();
    const auto took = Clock::now() - start;
    EXPECT_TRUE(c.png.empty());
    EXPECT_TRUE(c.text.empty());
    EXPECT_TRUE(c.html_format.empty());
    EXPECT_GE(took, milliseconds(1500));
    EXPECT_LT(took, milliseconds(3500));
  }
  // The next owner is read as usual.
  XclipOwner owner(options_.display, "UTF8_STRING", "after");
  ASSERT_TRUE(owner.owns());
  EXPECT_EQ(clipboard.Read().text, u"after");
}

TEST(X11ClipboardWithoutDisplay, DisplayThatDoesNotExistReadsEmpty) {
  platform::X11ClipboardOptions options;
  options.display = "/nonexistent/clipboard-test:0";
  platform::X11Clipboard clipboard(options);
  EXPECT_TRUE(clipboard.Read().text.empty());
}

TEST(X11ClipboardServerLoss, ServerThatGoesAwayDuringAReadDoesNotEndTheProcess) {
  Xvfb server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb could not be started";
  platform::X11ClipboardOptions options;
  options.display = server.display();
  platform::X11Clipboard clipboard(options);
  SilentOwner owner(server.display());
  ASSERT_TRUE(owner.owns());
  std::thread killer([&] {
    std::this_thread::sleep_for(milliseconds(300));
    server.Kill();
  });
  const auto start = Clock::now();
  const platform::ClipboardContents c = clipboard.Read();
  killer.join();
  EXPECT_TRUE(c.text.empty());
  EXPECT_LT(Clock::now() - start, milliseconds(3000));
  // Later reads find no display and return at once.
  EXPECT_TRUE(clipboard.Read().text.empty());
}

TEST(X11ClipboardServerLoss, ServerThatHangsIsLeftBehindAfterTheReadTimeLimit) {
  Xvfb server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb could not be started";
  platform::X11ClipboardOptions options;
  options.display = server.display();
  options.read_timeout = milliseconds(500);
  platform::X11Clipboard clipboard(options);
  XclipOwner owner(server.display(), "UTF8_STRING", "frozen");
  ASSERT_TRUE(owner.owns());
  ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
  const auto start = Clock::now();
  EXPECT_TRUE(clipboard.Read().text.empty());
  // A second read does not pile up behind the first.
  EXPECT_TRUE(clipboard.Read().text.empty());
  EXPECT_LT(Clock::now() - start, milliseconds(2500));
  kill(server.pid(), SIGCONT);
}

}  // namespace
}  // namespace clipboard_test
