// Docklane's control pipe: the request table with its prefix lengths and the
// reply buffer that outlives each request, then whole sessions over the
// real pipe with a client of the test's own.
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/globals.hpp"
#include "app/pipe_server.hpp"
#include "platform/control_pipe.hpp"
#include "tests/platform/control_pipe_test_env.hpp"

namespace {

// Services that say who answered and count their calls.
struct CountingServices {
  int clipboard_calls = 0;
  int font_calls = 0;
  std::string clipboard = "{\"clipboard\":1}";
  std::string fonts = "{\"fonts\":1}";

  PipeServices Get() {
    PipeServices services;
    services.read_clipboard_json = [this] {
      ++clipboard_calls;
      return clipboard;
    };
    services.font_list_json = [this] {
      ++font_calls;
      return fonts;
    };
    return services;
  }
};

class PipeRequestTable : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pipeReply[0] = '\0';
    g_fontListCache[0] = '\0';
  }

  PipeAction Ask(const std::string& request) {
    return AnswerPipeRequest(request.data(), request.size(), services_.Get());
  }
  std::string Reply() const { return g_pipeReply; }

  CountingServices services_;
};

TEST_F(PipeRequestTable, PingGivesPongAndUnknownRequestsRepeatTheLastReply) {
  EXPECT_EQ(Ask("hello"), PipeAction::kReply);
  EXPECT_EQ(Reply(), "");  // before any reply: just the zero byte
  Ask("ping");
  EXPECT_EQ(Reply(), "pong");
  Ask("what");
  EXPECT_EQ(Reply(), "pong");
  Ask(std::string("ping\0", 5));  // with the client's terminating zero
  EXPECT_EQ(Reply(), "pong");
}

TEST_F(PipeRequestTable, RowsCompareOnlyTheirLeadingBytes) {
  Ask("/get_clipboard_tex");  // 18 bytes
  EXPECT_EQ(Reply(), services_.clipboard);
  Ask("/get_font_lis");  // 13 bytes
  EXPECT_EQ(Reply(), services_.fonts);
  Ask("pingpong");
  EXPECT_EQ(Reply(), "pong");

  // One byte short of each prefix matches nothing.
  Ask("/get_clipboard_te");
  Ask("/get_font_li");
  Ask("pin");
  EXPECT_EQ(Reply(), "pong");
  EXPECT_EQ(services_.clipboard_calls, 1);
}

TEST_F(PipeRequestTable, QuitIsRecognisedByItsFirstFourBytesAndLeavesTheReply) {
  Ask("ping");
  EXPECT_EQ(Ask("quit"), PipeAction::kQuit);
  EXPECT_EQ(Ask("quitting"), PipeAction::kQuit);
  EXPECT_EQ(Ask("qui"), PipeAction::kReply);
  EXPECT_EQ(Reply(), "pong");
}

TEST_F(PipeRequestTable, TheFontListComesFromTheCacheAndRefillsItOnlyWhenEmpty) {
  std::strcpy(g_fontListCache, "{\"cached\":true}");
  Ask("/get_font_list");
  EXPECT_EQ(Reply(), "{\"cached\":true}");
  EXPECT_EQ(services_.font_calls, 0);

  g_fontListCache[0] = '\0';
  Ask("/get_font_list");
  EXPECT_EQ(Reply(), services_.fonts);
  EXPECT_STREQ(g_fontListCache, services_.fonts.c_str());
  EXPECT_EQ(services_.font_calls, 1);
}

TEST_F(PipeRequestTable, AnEmptyRequestChangesNothing) {
  Ask("ping");
  EXPECT_EQ(AnswerPipeRequest("", 0, services_.Get()), PipeAction::kReply);
  EXPECT_EQ(Reply(), "pong");
}

TEST_F(PipeRequestTable, ARequestBeyondTheBufferIsCutNotOverrun) {
  std::string request = "ping" + std::string(1000, 'x');
  EXPECT_EQ(Ask(request), PipeAction::kReply);
  EXPECT_EQ(Reply(), "pong");
}

TEST_F(PipeRequestTable, AClipboardTextThatFitsIsKeptWhole) {
  services_.clipboard = std::string(kPipeReplyBufferSize - 1, 'c');
  Ask("/get_clipboard_text");
  EXPECT_EQ(std::strlen(g_pipeReply), kPipeReplyBufferSize - 1);
}

TEST_F(PipeRequestTable, AClipboardTextTooLongForTheBufferGivesTheEmptyText) {
  Ask("ping");
  services_.clipboard = std::string(kPipeReplyBufferSize, 'c');
  Ask("/get_clipboard_text");
  // Not the first megabyte of a JSON document that would not parse.
  EXPECT_EQ(Reply(), "");
}

// A live session over the real pipe.
class PipeSession : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pipeReply[0] = '\0';
    g_fontListCache[0] = '\0';
    server_ = platform::CreateControlPipeServer();
    ASSERT_EQ(server_->Create(), platform::ControlPipeServer::CreateResult::kCreated);
    auto accepted = std::async(std::launch::async, [this] { return server_->WaitForClient(); });
    client_ = platform::CreateControlPipeClient();
    ASSERT_TRUE(client_->Open());
    ASSERT_TRUE(accepted.get());
    ::testing::internal::CaptureStdout();
    session_ = std::async(std::launch::async,
                          [this] { return RunPipeSession(*server_, services_.Get()); });
  }

  void TearDown() override {
    client_->Close();
    if (session_.valid()) session_.wait_for(std::chrono::seconds(5));
    if (!stdout_taken_) ::testing::internal::GetCapturedStdout();
  }

  // Sends a request and returns the reply's bytes, or "<none>".
  std::string Exchange(const std::string& request) {
    if (client_->WriteMessage(request.data(), request.size()) != platform::PipeWrite::kSent) {
      return "<unsent>";
    }
    std::vector<char> buffer(kPipeReplyBufferSize + 16);
    const platform::PipeRead read = client_->ReadMessage(buffer.data(), buffer.size());
    if (read.status != platform::PipeRead::kMessage) return "<none>";
    return std::string(buffer.data(), read.size);
  }

  PipeSessionEnd End() {
    EXPECT_EQ(session_.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    return session_.get();
  }

  std::string Stdout() {
    stdout_taken_ = true;
    return ::testing::internal::GetCapturedStdout();
  }

  PrivateRuntimeDir runtime_;
  CountingServices services_;
  std::unique_ptr<platform::ControlPipeServer> server_;
  std::unique_ptr<platform::ControlPipeClient> client_;
  std::future<PipeSessionEnd> session_;
  bool stdout_taken_ = false;
};

TEST_F(PipeSession, RepliesAreTheTextAndItsZeroByteAsOneMessage) {
  EXPECT_EQ(Exchange("hello"), std::string(1, '\0'));
  EXPECT_EQ(Exchange("ping"), std::string("pong\0", 5));
  EXPECT_EQ(Exchange("unknown"), std::string("pong\0", 5));
  EXPECT_EQ(Exchange("/get_clipboard_tex"), services_.clipboard + '\0');
  EXPECT_EQ(Exchange(""), services_.clipboard + '\0');
}

TEST_F(PipeSession, TheClientLeavingEndsTheSessionWithTheReadErrorLine) {
  EXPECT_EQ(Exchange("ping"), std::string("pong\0", 5));
  client_->Close();
  EXPECT_EQ(End(), PipeSessionEnd::kClientGone);
  EXPECT_EQ(Stdout(), "ReadFile error! \n");
}

TEST_F(PipeSession, QuitEndsTheSessionWithoutAReply) {
  EXPECT_EQ(Exchange("ping"), std::string("pong\0", 5));
  ASSERT_EQ(client_->WriteMessage("quit", 5), platform::PipeWrite::kSent);
  EXPECT_EQ(End(), PipeSessionEnd::kQuit);
  EXPECT_EQ(Stdout(), "");
}

TEST_F(PipeSession, AnOverlongRequestEndsTheSessionAndFreesAWaitingClient) {
  const std::string request(256, 'p');
  // The client would wait for a reply; it must learn at once that none comes.
  EXPECT_EQ(Exchange(request), "<none>");
  EXPECT_EQ(End(), PipeSessionEnd::kClientGone);
  EXPECT_EQ(Stdout(), "ReadFile error! \n");
}

TEST_F(PipeSession, A255ByteRequestIsStillARequest) {
  EXPECT_EQ(Exchange("ping" + std::string(251, 'x')), std::string("pong\0", 5));
}

}  // namespace
