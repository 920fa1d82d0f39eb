// Docklane as a program: the HTTP server waits for the pipe's client, the
// pipe's request table over the wire, single instance, the stale socket of
// a killed instance, and how it ends.
#include <arpa/inet.h>
#include <json/json.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>
#include <optional>
#include <thread>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_harness.hpp"

namespace e2e {
namespace {

const std::string kPong("pong\0", 5);

bool ParseJson(const std::string& text, Json::Value& value) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  return reader->parse(text.data(), text.data() + text.size(), &value, &errors);
}

class DocklaneProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Listening(kPort)) << "something else already listens on port 3465";
  }

  // Starts a Docklane and waits until its pipe exists.
  std::unique_ptr<Process> StartDocklane(const std::string& tag = "docklane",
                                         const std::vector<std::string>& env = {}) {
    auto lane = std::make_unique<Process>(DOCKLANE_PATH, home_.Environment(env),
                                          home_.root() + "/" + tag);
    EXPECT_TRUE(lane->started());
    EXPECT_TRUE(WaitUntil([&] { return ::access(home_.pipe_path().c_str(), F_OK) == 0; },
                          milliseconds(15000)))
        << "no control pipe appeared; stderr: " << lane->Stderr();
    return lane;
  }

  // Connects the pipe's client and waits for the HTTP server.
  void ConnectAndWaitForHttp(PipeClient& client) {
    ASSERT_TRUE(client.Connect(home_.pipe_path())) << std::strerror(client.error());
    ASSERT_TRUE(WaitUntil([] { return Listening(kPort); }, milliseconds(5000)));
  }

  TestHome home_;
};

TEST_F(DocklaneProgram, NothingListensOnTheHttpPortUntilAPipeClientConnects) {
  auto lane = StartDocklane();
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_FALSE(Listening(kPort));
  EXPECT_TRUE(lane->Running());

  PipeClient client;
  ConnectAndWaitForHttp(client);
  const HttpReply reply = HttpGet("/get_version_info");
  ASSERT_TRUE(reply.ok);
  EXPECT_EQ(reply.status_line, "HTTP/1.1 200 OK");
  Json::Value version;
  ASSERT_TRUE(ParseJson(reply.body, version)) << reply.body;
  EXPECT_EQ(version["product_name"].asString(), "PLUMETO_HTTP");
  EXPECT_EQ(client.Exchange("ping").bytes, kPong);
}

TEST_F(DocklaneProgram, WhileNothingHappensItsThreadsSleep) {
  auto lane = StartDocklane();
  PipeClient client;
  ConnectAndWaitForHttp(client);
  EXPECT_EQ(client.Exchange("ping").bytes, kPong);
  std::this_thread::sleep_for(milliseconds(200));

  // A main thread sleeping in 1 ms steps would wake about a thousand times.
  const long before = ContextSwitches(lane->pid());
  std::this_thread::sleep_for(milliseconds(1000));
  const long woken = ContextSwitches(lane->pid()) - before;
  EXPECT_LT(woken, 20);
  EXPECT_TRUE(lane->Running());
}

TEST_F(DocklaneProgram, ThePipeAnswersItsRequestTable) {
  auto lane = StartDocklane();
  PipeClient client;
  ConnectAndWaitForHttp(client);

  // Before any reply the reply buffer holds only its terminator.
  PipeClient::Reply first = client.Exchange("hello");
  ASSERT_EQ(first.status, PipeClient::kMessage);
  EXPECT_EQ(first.bytes, std::string(1, '\0'));

  EXPECT_EQ(client.Exchange("ping").bytes, kPong);
  EXPECT_EQ(client.Exchange("anything else").bytes, kPong);
  EXPECT_EQ(client.Exchange(std::string("ping\0", 5)).bytes, kPong);
  EXPECT_EQ(client.Exchange("ping" + std::string(251, 'x')).bytes, kPong);  // 255 bytes

  // Prefixes: 13 bytes select the font list, 18 the clipboard.
  const PipeClient::Reply fonts = client.Exchange("/get_font_lis");
  ASSERT_EQ(fonts.status, PipeClient::kMessage);
  ASSERT_FALSE(fonts.bytes.empty());
  EXPECT_EQ(fonts.bytes.back(), '\0');
  const std::string font_text = fonts.bytes.substr(0, fonts.bytes.size() - 1);
  Json::Value font_list;
  ASSERT_TRUE(ParseJson(font_text, font_list)) << font_text;
  EXPECT_EQ(font_list["encoding"].asString(), "utf-8");
  EXPECT_EQ(font_list["font_count"].asUInt(), font_list["font_list"].size());
  // The same list the HTTP endpoint builds afresh, when it fits the cache.
  const HttpReply http_fonts = HttpGet("/get_font_list");
  ASSERT_TRUE(http_fonts.ok);
  if (http_fonts.body.size() < 63335) {
    EXPECT_EQ(font_text, http_fonts.body);
  }

  // The empty message is an unknown request: the last reply again.
  EXPECT_EQ(client.Exchange("").bytes, fonts.bytes);
  EXPECT_TRUE(lane->Running());
}

TEST_F(DocklaneProgram, TheClipboardPrefixGivesTheClipboardJson) {
  auto lane = StartDocklane();
  PipeClient client;
  ConnectAndWaitForHttp(client);

  // No display in the test's environment: an empty clipboard, reported as
  // such in a JSON object.
  const PipeClient::Reply clipboard = client.Exchange("/get_clipboard_tex");
  ASSERT_EQ(clipboard.status, PipeClient::kMessage);
  ASSERT_FALSE(clipboard.bytes.empty());
  EXPECT_EQ(clipboard.bytes.back(), '\0');
  Json::Value clipboard_json;
  ASSERT_TRUE(ParseJson(clipboard.bytes.substr(0, clipboard.bytes.size() - 1), clipboard_json))
      << clipboard.bytes;
  EXPECT_TRUE(clipboard_json.isObject());
  EXPECT_TRUE(clipboard_json["success"].asBool());
  // The same reply the HTTP endpoint gives.
  const HttpReply http_clipboard = HttpGet("/get_clipboard_text");
  ASSERT_TRUE(http_clipboard.ok);
  EXPECT_EQ(clipboard.bytes.substr(0, clipboard.bytes.size() - 1), http_clipboard.body);

  EXPECT_TRUE(lane->Running());
}

TEST_F(DocklaneProgram, TheClipboardOverThePipeIsTheDesktopClipboard) {
  VirtualDisplay display(home_);
  ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
  const std::string text = "Docklane clipboard \xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4";
  const std::string text_path = home_.root() + "/clipboard.txt";
  std::ofstream(text_path, std::ios::binary) << text;
  // xclip stays in the foreground with -quiet, so it ends with the test.
  Process owner("/usr/bin/xclip", home_.Environment({"DISPLAY=" + display.name()}),
                home_.root() + "/xclip", {"-quiet", "-selection", "clipboard", "-i"}, text_path);
  ASSERT_TRUE(owner.started());

  auto lane = StartDocklane("docklane", {"DISPLAY=" + display.name()});
  PipeClient client;
  ConnectAndWaitForHttp(client);

  Json::Value clipboard;
  EXPECT_TRUE(WaitUntil(
      [&] {
        const PipeClient::Reply reply = client.Exchange("/get_clipboard_text");
        return reply.status == PipeClient::kMessage && !reply.bytes.empty() &&
               ParseJson(reply.bytes.substr(0, reply.bytes.size() - 1), clipboard) &&
               clipboard["text"].asString() == text;
      },
      milliseconds(5000)))
      << clipboard.toStyledString();
}

TEST_F(DocklaneProgram, QuitEndsDocklaneWithCodeZeroAndNoReply) {
  auto lane = StartDocklane();
  PipeClient client;
  ConnectAndWaitForHttp(client);
  EXPECT_EQ(client.Exchange("ping").bytes, kPong);

  const auto sent = Clock::now();
  const PipeClient::Reply reply = client.Exchange("quit", milliseconds(3000));
  EXPECT_EQ(reply.status, PipeClient::kClosed) << reply.bytes;
  EXPECT_EQ(lane->WaitExit(milliseconds(3000)), 0);
  EXPECT_LT(Clock::now() - sent, milliseconds(2000));
  EXPECT_FALSE(Listening(kPort));
  // A clean exit leaves no socket behind.
  EXPECT_NE(::access(home_.pipe_path().c_str(), F_OK), 0);
}

TEST_F(DocklaneProgram, ASecondDocklaneExitsZeroWithoutTouchingTheFirst) {
  auto first = StartDocklane("first");
  auto second = std::make_unique<Process>(DOCKLANE_PATH, home_.Environment(),
                                          home_.root() + "/second");
  EXPECT_EQ(second->WaitExit(milliseconds(10000)), 0) << second->Stderr();
  EXPECT_FALSE(Listening(kPort));
  EXPECT_TRUE(first->Running());

  // The first still owns its pipe and serves once a client comes.
  PipeClient client;
  ConnectAndWaitForHttp(client);
  EXPECT_EQ(client.Exchange("ping").bytes, kPong);
}

TEST_F(DocklaneProgram, ADocklaneAfterAKilledOneTakesOverItsStaleSocket) {
  auto killed = StartDocklane("killed");
  killed->Signal(SIGKILL);
  ASSERT_EQ(killed->WaitExit(milliseconds(5000)), 128 + SIGKILL);
  ASSERT_EQ(::access(home_.pipe_path().c_str(), F_OK), 0) << "the stale socket is the point";

  auto lane = std::make_unique<Process>(DOCKLANE_PATH, home_.Environment(), home_.root() + "/next");
  // The stale file is there from the start; connecting succeeds once the
  // new instance has replaced it.
  PipeClient client;
  ASSERT_TRUE(WaitUntil([&] { return client.Connect(home_.pipe_path()); }, milliseconds(15000)))
      << lane->Stderr();
  ASSERT_TRUE(WaitUntil([] { return Listening(kPort); }, milliseconds(5000)));
  EXPECT_EQ(client.Exchange("ping").bytes, kPong);
  EXPECT_TRUE(HttpGet("/get_version_info").ok);
}

TEST_F(DocklaneProgram, AfterItsClientHasGoneThePipeRefusesNewClientsAndHttpServesOn) {
  auto lane = StartDocklane();
  PipeClient client;
  ConnectAndWaitForHttp(client);
  EXPECT_EQ(client.Exchange("ping").bytes, kPong);
  client.Close();
  EXPECT_TRUE(WaitUntil([&] { return lane->Stdout() == "ReadFile error! \n"; }, milliseconds(3000)))
      << lane->Stdout();

  PipeClient late;
  const auto start = Clock::now();
  EXPECT_FALSE(late.Connect(home_.pipe_path()));
  EXPECT_EQ(late.error(), ECONNREFUSED) << std::strerror(late.error());
  EXPECT_LT(Clock::now() - start, milliseconds(1000));

  EXPECT_TRUE(lane->Running());
  EXPECT_TRUE(HttpGet("/get_version_info").ok);
}

TEST_F(DocklaneProgram, AnOverlongRequestEndsThePipeSessionButNotDocklane) {
  auto lane = StartDocklane();
  PipeClient client;
  ConnectAndWaitForHttp(client);
  EXPECT_EQ(client.Exchange("ping").bytes, kPong);

  // The client is told at once that no reply comes, rather than waiting.
  const PipeClient::Reply reply = client.Exchange(std::string(300, 'x'), milliseconds(3000));
  EXPECT_EQ(reply.status, PipeClient::kClosed);
  EXPECT_TRUE(WaitUntil([&] { return lane->Stdout() == "ReadFile error! \n"; }, milliseconds(3000)));
  EXPECT_TRUE(lane->Running());
  EXPECT_TRUE(HttpGet("/get_version_info").ok);
}

TEST_F(DocklaneProgram, APortAlreadyTakenEndsDocklaneWithAnErrorNotAHollowProcess) {
  const int blocker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(kPort);
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  const int reuse = 1;  // earlier tests' connections may linger in TIME_WAIT
  ::setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(blocker, 4), 0);

  auto lane = StartDocklane();
  PipeClient client;
  ASSERT_TRUE(client.Connect(home_.pipe_path()));
  const std::optional<int> code = lane->WaitExit(milliseconds(5000));
  ::close(blocker);
  ASSERT_TRUE(code.has_value()) << "Docklane stayed up without its HTTP server";
  EXPECT_EQ(*code, 1);
  EXPECT_NE(lane->Stderr().find("3465"), std::string::npos) << lane->Stderr();
}

}  // namespace
}  // namespace e2e
