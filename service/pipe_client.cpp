#include "service/pipe_client.hpp"

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/control_pipe.hpp"

std::atomic<int> g_quitFlag{0};
std::atomic<int> g_openFailureCount{0};

namespace {

// Allocated once and never destroyed: the loop's thread may still be
// waiting on it when the service's process exits.
platform::ControlPipeClient& Pipe() {
  static platform::ControlPipeClient* pipe = platform::CreateControlPipeClient().release();
  return *pipe;
}

char g_request[kPipeRequestBufferSize];
// Whether the last request written was "quit".
bool g_sentQuit = false;
char g_reply[kPipeReplyBufferSize];

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

bool PipeClientIsOpen() { return Pipe().IsOpen(); }
bool OpenPipeClient() { return Pipe().Open(); }
void ClosePipeClient() { Pipe().Close(); }
std::string LastPipeReply() { return g_reply; }

int ExchangeOnce() {
  g_sentQuit = g_quitFlag.load() != 0;
  std::strcpy(g_request, g_sentQuit ? kPipeQuit : kPipePing);
  // The text and its terminating zero byte as one message.
  if (Pipe().WriteMessage(g_request, std::strlen(g_request) + 1) != platform::PipeWrite::kSent) {
    return -1;
  }
  const platform::PipeRead read = Pipe().ReadMessage(g_reply, kPipeReplyReadLimit);
  if (read.status != platform::PipeRead::kMessage) return -1;
  // The server ends its text with a zero byte; make sure the buffer does,
  // also for an empty message (where there is no last byte to replace).
  g_reply[read.size > 0 ? read.size - 1 : 0] = '\0';
  return 1;
}

int PipeClientLoop() {
  for (;;) {
    if (!Pipe().IsOpen() && !Pipe().Open()) {
      ++g_openFailureCount;
      SleepMs(kOpenRetryMs);
      g_openFailureCount = 0;
      continue;
    }
    g_openFailureCount = 0;
    if (!Pipe().SetMessageMode() || ExchangeOnce() != 1) {
      Pipe().Close();
      SleepMs(kExchangeIntervalMs);
      continue;
    }
    // Leave only once "quit" itself has gone through: a flag set just after
    // a ping succeeded would otherwise end the loop without telling
    // Docklane.
    if (g_sentQuit) break;
    SleepMs(kExchangeIntervalMs);
  }
  Pipe().Close();
  return 0;
}
