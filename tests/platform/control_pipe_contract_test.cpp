// What Docklane and Docwarden rely on from the control pipe, run against
// each backend; then what only the POSIX socket backend promises.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/control_pipe.hpp"
#include "tests/platform/control_pipe_test_env.hpp"

namespace {

using platform::ControlPipeClient;
using platform::ControlPipeServer;
using platform::PipeRead;
using platform::PipeWrite;
using Clock = std::chrono::steady_clock;

struct Backend {
  const char* name;
  std::unique_ptr<ControlPipeServer> (*make_server)();
  std::unique_ptr<ControlPipeClient> (*make_client)();
};

void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

std::string Read(ControlPipeClient& client, std::size_t capacity = 4096) {
  std::vector<char> buffer(capacity);
  const PipeRead read = client.ReadMessage(buffer.data(), buffer.size());
  if (read.status != PipeRead::kMessage) return "<status " + std::to_string(read.status) + ">";
  return std::string(buffer.data(), read.size);
}

std::string Read(ControlPipeServer& server, std::size_t capacity = 255) {
  std::vector<char> buffer(capacity);
  const PipeRead read = server.ReadMessage(buffer.data(), buffer.size());
  if (read.status != PipeRead::kMessage) return "<status " + std::to_string(read.status) + ">";
  return std::string(buffer.data(), read.size);
}

class ControlPipeContract : public ::testing::TestWithParam<Backend> {
 protected:
  // Creates the server, connects one client and accepts it.
  void Connect() {
    server_ = GetParam().make_server();
    ASSERT_EQ(server_->Create(), ControlPipeServer::CreateResult::kCreated) << server_->ErrorText();
    auto accepted = std::async(std::launch::async, [this] { return server_->WaitForClient(); });
    client_ = GetParam().make_client();
    ASSERT_TRUE(client_->Open());
    ASSERT_EQ(accepted.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    ASSERT_TRUE(accepted.get());
    ASSERT_TRUE(client_->SetMessageMode());
  }

  PrivateRuntimeDir runtime_;
  std::unique_ptr<ControlPipeServer> server_;
  std::unique_ptr<ControlPipeClient> client_;
};

TEST_P(ControlPipeContract, MessagesKeepTheirBoundariesBothWays) {
  Connect();
  ASSERT_EQ(client_->WriteMessage("ping", 5), PipeWrite::kSent);
  ASSERT_EQ(client_->WriteMessage("/get_font_list", 14), PipeWrite::kSent);
  EXPECT_EQ(Read(*server_), std::string("ping", 5));
  EXPECT_EQ(Read(*server_), std::string("/get_font_list", 14));

  ASSERT_EQ(server_->WriteMessage("pong", 5), PipeWrite::kSent);
  ASSERT_EQ(server_->WriteMessage("x", 2), PipeWrite::kSent);
  EXPECT_EQ(Read(*client_), std::string("pong", 5));
  EXPECT_EQ(Read(*client_), std::string("x", 2));
}

TEST_P(ControlPipeContract, AnEmptyMessageIsAMessageNotAHangUp) {
  Connect();
  ASSERT_EQ(client_->WriteMessage("", 0), PipeWrite::kSent);
  char buffer[255];
  const PipeRead empty = server_->ReadMessage(buffer, sizeof buffer);
  EXPECT_EQ(empty.status, PipeRead::kMessage);
  EXPECT_EQ(empty.size, 0u);

  client_->Close();
  EXPECT_EQ(server_->ReadMessage(buffer, sizeof buffer).status, PipeRead::kPeerGone);
}

TEST_P(ControlPipeContract, AnOverlongMessageIsReportedAndDiscardedWhole) {
  Connect();
  const std::string big(300, 'a');
  ASSERT_EQ(client_->WriteMessage(big.data(), big.size()), PipeWrite::kSent);
  ASSERT_EQ(client_->WriteMessage("ping", 5), PipeWrite::kSent);

  std::vector<char> buffer(255 + 16, '\x7f');
  const PipeRead too_long = server_->ReadMessage(buffer.data(), 255);
  EXPECT_EQ(too_long.status, PipeRead::kTooLong);
  // Nothing written past the capacity given.
  for (std::size_t i = 255; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '\x7f') << i;
  // The rest of the long message does not show up as a message of its own.
  EXPECT_EQ(Read(*server_), std::string("ping", 5));
}

TEST_P(ControlPipeContract, AMegabyteReplyArrivesWholeOrNotAtAll) {
  Connect();
  std::string reply(1165535, 'r');
  reply.back() = '\0';
  const PipeWrite written = server_->WriteMessage(reply.data(), reply.size());
  ASSERT_NE(written, PipeWrite::kFailed);
  if (written == PipeWrite::kTooLarge) {
    // Refused by the system's limit: nothing of it may arrive.
    ASSERT_EQ(server_->WriteMessage("pong", 5), PipeWrite::kSent);
    EXPECT_EQ(Read(*client_), std::string("pong", 5));
    GTEST_SKIP() << "this system caps one message below a megabyte";
  }
  EXPECT_EQ(Read(*client_, reply.size() + 10), reply);
}

TEST_P(ControlPipeContract, ASecondServerIsToldAnotherInstanceRuns) {
  server_ = GetParam().make_server();
  ASSERT_EQ(server_->Create(), ControlPipeServer::CreateResult::kCreated);
  auto second = GetParam().make_server();
  EXPECT_EQ(second->Create(), ControlPipeServer::CreateResult::kAlreadyRunning);
  // The loser must not have disturbed the owner: a client still gets in.
  second.reset();
  auto accepted = std::async(std::launch::async, [this] { return server_->WaitForClient(); });
  auto client = GetParam().make_client();
  EXPECT_TRUE(client->Open());
  EXPECT_TRUE(accepted.get());
}

TEST_P(ControlPipeContract, OnlyOneClientEverAndLaterOnesAreRefusedAtOnce) {
  Connect();
  auto second = GetParam().make_client();
  auto start = Clock::now();
  EXPECT_FALSE(second->Open());
  client_->Close();
  EXPECT_FALSE(second->Open());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_P(ControlPipeContract, ClientWithoutServerFailsToOpen) {
  auto client = GetParam().make_client();
  EXPECT_FALSE(client->Open());
  EXPECT_FALSE(client->IsOpen());
  char buffer[8];
  EXPECT_EQ(client->ReadMessage(buffer, sizeof buffer).status, PipeRead::kFailed);
  EXPECT_EQ(client->WriteMessage("ping", 5), PipeWrite::kFailed);
}

TEST_P(ControlPipeContract, DisconnectTellsAWaitingClientAtOnce) {
  Connect();
  auto reply = std::async(std::launch::async, [this] {
    char buffer[16];
    return client_->ReadMessage(buffer, sizeof buffer).status;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server_->Disconnect();
  ASSERT_EQ(reply.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(reply.get(), PipeRead::kPeerGone);
  EXPECT_EQ(client_->WriteMessage("ping", 5), PipeWrite::kFailed);
}

TEST_P(ControlPipeContract, WritesToAGoneClientFailWithoutKillingTheProcess) {
  Connect();
  client_->Close();
  // Without care this would raise SIGPIPE and end the test program.
  EXPECT_EQ(server_->WriteMessage("pong", 5), PipeWrite::kFailed);
}

INSTANTIATE_TEST_SUITE_P(Backends, ControlPipeContract,
                         ::testing::Values(Backend{"posix", platform::CreateControlPipeServer,
                                                   platform::CreateControlPipeClient}),
                         [](const auto& info) { return std::string(info.param.name); });

// The POSIX backend: a socket file in the runtime folder.
class PosixControlPipe : public ::testing::Test {
 protected:
  PrivateRuntimeDir runtime_;
};

TEST_F(PosixControlPipe, TheSocketLivesInTheRuntimeFolderPrivately) {
  auto server = platform::CreateControlPipeServer();
  ASSERT_EQ(server->Create(), ControlPipeServer::CreateResult::kCreated);
  EXPECT_EQ(server->Address(), runtime_.socket_path());
  EXPECT_EQ(platform::ControlPipeAddress(), runtime_.socket_path());
  struct stat st {};
  ASSERT_EQ(::lstat(runtime_.socket_path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PosixControlPipe, AStaleSocketFileIsTakenOver) {
  // A socket file nobody listens on, as a killed instance leaves it.
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, runtime_.socket_path().c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);

  auto client = platform::CreateControlPipeClient();
  EXPECT_FALSE(client->Open());

  auto server = platform::CreateControlPipeServer();
  ASSERT_EQ(server->Create(), ControlPipeServer::CreateResult::kCreated) << server->ErrorText();
  auto accepted = std::async(std::launch::async, [&] { return server->WaitForClient(); });
  EXPECT_TRUE(client->Open());
  EXPECT_TRUE(accepted.get());
}

TEST_F(PosixControlPipe, AStaleFileOfAKilledOwnerIsTakenOver) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto server = platform::CreateControlPipeServer();
    // Dies without cleaning up, holding the lock until the kernel drops it.
    ::_exit(server->Create() == ControlPipeServer::CreateResult::kCreated ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(::access(runtime_.socket_path().c_str(), F_OK), 0);

  auto server = platform::CreateControlPipeServer();
  EXPECT_EQ(server->Create(), ControlPipeServer::CreateResult::kCreated) << server->ErrorText();
}

TEST_F(PosixControlPipe, RemoveTakesTheSocketAwayButKeepsTheLock) {
  auto server = platform::CreateControlPipeServer();
  ASSERT_EQ(server->Create(), ControlPipeServer::CreateResult::kCreated);
  server->Remove();
  EXPECT_NE(::access(runtime_.socket_path().c_str(), F_OK), 0);
  // Still the owner until it is gone.
  auto second = platform::CreateControlPipeServer();
  EXPECT_EQ(second->Create(), ControlPipeServer::CreateResult::kAlreadyRunning);
}

TEST_F(PosixControlPipe, ASocketPathTooLongForTheSystemFailsCleanly) {
  const std::string deep = runtime_.path() + "/" + std::string(120, 'd');
  ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  ::setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
  auto server = platform::CreateControlPipeServer();
  EXPECT_EQ(server->Create(), ControlPipeServer::CreateResult::kFailed);
  EXPECT_NE(server->ErrorText().find("too long"), std::string::npos) << server->ErrorText();
  EXPECT_FALSE(platform::CreateControlPipeClient()->Open());
}

}  // namespace
