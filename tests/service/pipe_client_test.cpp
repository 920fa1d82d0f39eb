// Docwarden's pipe client against a pipe server of the test's own: what it
// sends, how it takes the replies, and when its loop leaves.
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/control_pipe.hpp"
#include "service/pipe_client.hpp"
#include "tests/platform/control_pipe_test_env.hpp"

namespace {

using Clock = std::chrono::steady_clock;

class PipeClient : public ::testing::Test {
 protected:
  void SetUp() override {
    g_quitFlag = 0;
    ClosePipeClient();
    server_ = platform::CreateControlPipeServer();
    ASSERT_EQ(server_->Create(), platform::ControlPipeServer::CreateResult::kCreated);
  }
  void TearDown() override {
    ClosePipeClient();
    g_quitFlag = 0;
  }

  void Connect() {
    auto accepted = std::async(std::launch::async, [this] { return server_->WaitForClient(); });
    ASSERT_TRUE(OpenPipeClient());
    ASSERT_TRUE(accepted.get());
  }

  // The next request as the server sees it, bytes and all.
  std::string ServerRead() {
    char buffer[255];
    const platform::PipeRead read = server_->ReadMessage(buffer, sizeof buffer);
    if (read.status != platform::PipeRead::kMessage) return "<none>";
    return std::string(buffer, read.size);
  }

  PrivateRuntimeDir runtime_;
  std::unique_ptr<platform::ControlPipeServer> server_;
};

TEST_F(PipeClient, AnExchangeSendsPingWithItsZeroByteAndTakesTheReply) {
  Connect();
  auto exchange = std::async(std::launch::async, ExchangeOnce);
  EXPECT_EQ(ServerRead(), std::string("ping\0", 5));
  ASSERT_EQ(server_->WriteMessage("pong", 5), platform::PipeWrite::kSent);
  EXPECT_EQ(exchange.get(), 1);
  EXPECT_EQ(LastPipeReply(), "pong");
}

TEST_F(PipeClient, TheLastReplyByteIsMadeATerminatorEvenWhenItIsNot) {
  Connect();
  auto exchange = std::async(std::launch::async, ExchangeOnce);
  ServerRead();
  ASSERT_EQ(server_->WriteMessage("pongX", 5), platform::PipeWrite::kSent);
  EXPECT_EQ(exchange.get(), 1);
  EXPECT_EQ(LastPipeReply(), "pong");
}

TEST_F(PipeClient, AnEmptyReplyIsTakenWithoutTouchingBeforeTheBuffer) {
  Connect();
  auto exchange = std::async(std::launch::async, ExchangeOnce);
  ServerRead();
  ASSERT_EQ(server_->WriteMessage("", 0), platform::PipeWrite::kSent);
  EXPECT_EQ(exchange.get(), 1);
  EXPECT_EQ(LastPipeReply(), "");
}

TEST_F(PipeClient, WithTheQuitFlagSetTheExchangeCarriesQuitAndFailsWithoutReply) {
  Connect();
  g_quitFlag = 1;
  auto exchange = std::async(std::launch::async, ExchangeOnce);
  EXPECT_EQ(ServerRead(), std::string("quit\0", 5));
  server_->Disconnect();  // as Docklane does by exiting
  EXPECT_EQ(exchange.get(), -1);
}

TEST_F(PipeClient, AnExchangeWithoutConnectionFails) {
  EXPECT_FALSE(PipeClientIsOpen());
  EXPECT_EQ(ExchangeOnce(), -1);
}

TEST_F(PipeClient, TheLoopPingsAboutOnceASecondAndLeavesAfterAnAnsweredQuit) {
  auto loop = std::async(std::launch::async, PipeClientLoop);
  ASSERT_TRUE(server_->WaitForClient());

  std::vector<Clock::time_point> pings;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(ServerRead(), std::string("ping\0", 5));
    pings.push_back(Clock::now());
    ASSERT_EQ(server_->WriteMessage("pong", 5), platform::PipeWrite::kSent);
  }
  for (std::size_t i = 1; i < pings.size(); ++i) {
    const auto gap = pings[i] - pings[i - 1];
    EXPECT_GT(gap, std::chrono::milliseconds(900));
    EXPECT_LT(gap, std::chrono::milliseconds(1500));
  }

  // Set right after a pong, as a stop may come at any moment: the loop must
  // still send "quit" rather than leave on the ping that just succeeded.
  g_quitFlag = 1;
  EXPECT_EQ(ServerRead(), std::string("quit\0", 5));
  // A server that answers "quit" lets the loop leave.
  ASSERT_EQ(server_->WriteMessage("bye", 4), platform::PipeWrite::kSent);
  ASSERT_EQ(loop.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  EXPECT_EQ(loop.get(), 0);
  EXPECT_FALSE(PipeClientIsOpen());
}

}  // namespace
