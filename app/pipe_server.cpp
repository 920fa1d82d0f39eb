#include "app/pipe_server.hpp"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>

#include "app/font_cache.hpp"
#include "app/globals.hpp"
#include "app/process_exit.hpp"
#include "app/server_thread.hpp"
#include "app/trace.hpp"
#include "desktop/clipboard_reader.hpp"
#include "desktop/font_list.hpp"

char g_pipeReply[kPipeReplyBufferSize];

namespace {

// The process's pipe; never destroyed, since the pipe thread uses it until
// the process ends.
platform::ControlPipeServer* g_controlPipe = nullptr;

bool Matches(const char* request, const char* command, std::size_t compared) {
  return std::strncmp(request, command, compared) == 0;
}

// A text too long for the buffer is replaced by the empty text: half a JSON
// document would be worse than none.
void SetReply(const std::string& text) {
  if (text.size() >= kPipeReplyBufferSize) {
    g_pipeReply[0] = '\0';
    return;
  }
  std::memcpy(g_pipeReply, text.c_str(), text.size() + 1);
}

}  // namespace

PipeServices DefaultPipeServices() {
  PipeServices services;
  services.read_clipboard_json = [] {
    // A reply too long for the reply buffer is answered with the empty text
    // anyway, so one is never read whole; nor may a failure end the thread.
    std::string text;
    try {
      if (!ReadClipboardReply().ToText(text, kPipeReplyReadLimit)) text.clear();
    } catch (const std::exception&) {
      text.clear();
    }
    return text;
  };
  services.font_list_json = [] { return GetFontListJson(); };
  return services;
}

PipeAction AnswerPipeRequest(const char* request, std::size_t length, const PipeServices& services) {
  char text[kPipeRequestBufferSize];
  if (length >= kPipeRequestBufferSize) length = kPipeRequestBufferSize - 1;
  std::memcpy(text, request, length);
  text[length] = '\0';

  if (Matches(text, kPipeQuit, 4)) return PipeAction::kQuit;
  if (Matches(text, "/get_clipboard_text", 18)) SetReply(services.read_clipboard_json());
  if (Matches(text, "/get_font_list", 13)) {
    if (g_fontListCache[0] == '\0') StoreFontListCache(services.font_list_json());
    SetReply(g_fontListCache);
  }
  if (Matches(text, kPipePing, 4)) SetReply(kPipePong);
  return PipeAction::kReply;
}

PipeSessionEnd RunPipeSession(platform::ControlPipeServer& pipe, const PipeServices& services) {
  char request[kPipeRequestBufferSize];
  for (;;) {
    const platform::PipeRead read = pipe.ReadMessage(request, kPipeRequestBufferSize - 1);
    if (read.status != platform::PipeRead::kMessage) {
      std::fputs("ReadFile error! \n", stdout);
      std::fflush(stdout);
      pipe.Disconnect();
      return PipeSessionEnd::kClientGone;
    }
    if (AnswerPipeRequest(request, read.size, services) == PipeAction::kQuit) {
      return PipeSessionEnd::kQuit;
    }
    platform::PipeWrite written = pipe.WriteMessage(g_pipeReply, std::strlen(g_pipeReply) + 1);
    if (written == platform::PipeWrite::kTooLarge) {
      // More than the channel carries in one message: the empty text
      // instead, so the exchange stays one request, one reply.
      g_pipeReply[0] = '\0';
      written = pipe.WriteMessage(g_pipeReply, 1);
    }
    if (written != platform::PipeWrite::kSent) {
      pipe.Disconnect();
      return PipeSessionEnd::kWriteFailed;
    }
  }
}

int PipeServerLoop() {
  if (RunPipeSession(*g_controlPipe, DefaultPipeServices()) == PipeSessionEnd::kQuit) {
    // Remove the socket now so that no stale name is left behind.
    g_controlPipe->Remove();
    QuitProcess();
  }
  return -1;
}

int PipeServerStart() {
  g_controlPipe = platform::CreateControlPipeServer().release();
  switch (g_controlPipe->Create()) {
    case platform::ControlPipeServer::CreateResult::kCreated:
      break;
    case platform::ControlPipeServer::CreateResult::kAlreadyRunning:
      ShellTrace("CreateNamePipe error!: Duplicate Process \n");
      EndProcess(0);
    case platform::ControlPipeServer::CreateResult::kFailed:
      ShellTrace("CreateNamePipe error!  \n");
      // Not a second instance: a real failure, which the service manager
      // should see and may retry.
      std::fprintf(stderr, "docklane: cannot create the control pipe: %s\n",
                   g_controlPipe->ErrorText().c_str());
      EndProcess(1);
  }
  if (!g_controlPipe->WaitForClient()) {
    std::fprintf(stderr, "docklane: waiting for the control pipe's client failed: %s\n",
                 g_controlPipe->ErrorText().c_str());
    g_controlPipe->Remove();
    return -1;
  }
  std::thread(PipeServerLoop).detach();
  std::thread(ServerThread).detach();
  return 1;
}
