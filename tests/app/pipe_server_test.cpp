// Docklane's control pipe: the request table with its prefix lengths and the
// reply buffer that outlives each request. Whole sessions over the wire are
// in the end-to-end tests.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/globals.hpp"
#include "app/pipe_server.hpp"

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

}  // namespace
