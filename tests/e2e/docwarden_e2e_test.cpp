// Docwarden with Docklane: it connects at its next retry when it started
// first, and its stop ends Docklane and then itself, telling a systemd
// manager (here a socket of the test's own) what it is doing.
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_harness.hpp"

namespace e2e {
namespace {

class DocwardenProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Listening(kPort)) << "something else already listens on port 3465";
  }

  std::unique_ptr<Process> StartDocwarden() {
    return std::make_unique<Process>(DOCWARDEN_PATH,
                                     home_.Environment({"NOTIFY_SOCKET=" + notify_.path()}),
                                     home_.root() + "/docwarden");
  }
  std::unique_ptr<Process> StartDocklane() {
    return std::make_unique<Process>(DOCKLANE_PATH, home_.Environment(),
                                     home_.root() + "/docklane");
  }

  // SIGTERM to Docwarden: Docklane gets "quit" and exits 0 within about two
  // seconds; Docwarden reports stop-pending, then stopped, and exits 0.
  void StopBoth(Process& warden, Process& lane) {
    const auto stop = Clock::now();
    warden.Signal(SIGTERM);
    EXPECT_EQ(lane.WaitExit(milliseconds(3000)), 0) << lane.Stderr();
    EXPECT_LT(Clock::now() - stop, milliseconds(2500));
    EXPECT_EQ(warden.WaitExit(milliseconds(5000)), 0) << warden.Stderr();

    const std::vector<std::string>& messages = notify_.Messages(milliseconds(100));
    const int ready = IndexOf(messages, "READY=1");
    const int stopping = IndexOf(messages, "STOPPING=1");
    const int stopped = IndexOf(messages, "STATUS=Stopped");
    EXPECT_GE(ready, 0);
    EXPECT_GT(stopping, ready);
    EXPECT_GT(stopped, stopping);
  }

  TestHome home_;
  NotifySocket notify_{home_.root() + "/notify"};
};

TEST_F(DocwardenProgram, StartedFirstItConnectsAtItsNextRetryAndHttpStartsThen) {
  auto warden = StartDocwarden();
  ASSERT_TRUE(notify_.Received("READY=1", milliseconds(3000)));
  const auto warden_ready = Clock::now();
  std::this_thread::sleep_for(milliseconds(1000));

  auto lane = StartDocklane();
  ASSERT_TRUE(WaitUntil([&] { return ::access(home_.pipe_path().c_str(), F_OK) == 0; },
                        milliseconds(10000)));
  // Docwarden is between retries: no client yet, so no HTTP server.
  if (Clock::now() - warden_ready < milliseconds(8000)) {
    EXPECT_FALSE(Listening(kPort));
  }

  ASSERT_TRUE(WaitUntil([] { return Listening(kPort); }, milliseconds(13000)))
      << "Docwarden never connected";
  EXPECT_GT(Clock::now() - warden_ready, milliseconds(8000));
  EXPECT_TRUE(HttpGet("/get_version_info").ok);

  StopBoth(*warden, *lane);
}

TEST_F(DocwardenProgram, ItsStopEndsARunningDocklaneAndThenItself) {
  auto lane = StartDocklane();
  ASSERT_TRUE(WaitUntil([&] { return ::access(home_.pipe_path().c_str(), F_OK) == 0; },
                        milliseconds(10000)));
  auto warden = StartDocwarden();
  ASSERT_TRUE(WaitUntil([] { return Listening(kPort); }, milliseconds(5000)));
  ASSERT_TRUE(notify_.Received("READY=1", milliseconds(3000)));
  // Let a few pings pass: the connection must stay up between them.
  std::this_thread::sleep_for(milliseconds(2500));
  EXPECT_TRUE(lane->Running());
  EXPECT_EQ(lane->Stdout(), "");

  StopBoth(*warden, *lane);
}

TEST_F(DocwardenProgram, WithoutDocklaneItStillStopsPromptlyOnSigint) {
  auto warden = std::make_unique<Process>(DOCWARDEN_PATH, home_.Environment(),
                                          home_.root() + "/docwarden");
  std::this_thread::sleep_for(milliseconds(300));
  ASSERT_TRUE(warden->Running());
  warden->Signal(SIGINT);
  EXPECT_EQ(warden->WaitExit(milliseconds(4000)), 0);
}

}  // namespace
}  // namespace e2e
