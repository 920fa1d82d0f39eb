// Docklane's end of the control pipe: single-instance guard, the start-up
// gate of the HTTP server, and a small request/reply channel for the
// watchdog ("ping", "quit") and two services (clipboard, font list).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/control_pipe.hpp"
#include "protocol/control_pipe_protocol.hpp"

// The reply buffer keeps its text from one request to the next.
extern char g_pipeReply[kPipeReplyBufferSize];

// The services the pipe answers with; the real ones unless a test says so.
struct PipeServices {
  std::function<std::string()> read_clipboard_json;
  std::function<std::string()> font_list_json;
};
PipeServices DefaultPipeServices();

enum class PipeAction {
  kReply,  // send the reply buffer
  kQuit,   // end the process, no reply
};

// Applies the request table to one request of `length` bytes: the rows
// compare 4, 18, 13 and 4 leading bytes, so "/get_font_lis" is already the
// font list. Unknown (and empty) requests leave the reply buffer as it is.
PipeAction AnswerPipeRequest(const char* request, std::size_t length, const PipeServices& services);

// How a pipe session ended.
enum class PipeSessionEnd {
  kClientGone,  // read failed: client gone, over-long message or error
  kWriteFailed,
  kQuit,
};

// Serves one connected client until it goes or asks to quit. Writes
// "ReadFile error! \n" to standard output when a read fails, and ends the
// connection in every case but quit, so the client is never left waiting.
PipeSessionEnd RunPipeSession(platform::ControlPipeServer& pipe, const PipeServices& services);

// Start-up step: claims the pipe (a second instance exits with code 0
// here), waits for the first client and then starts the pipe thread and the
// HTTP server thread. Returns 1 when both run; -1 when the wait failed.
int PipeServerStart();

// The pipe thread: RunPipeSession on the process's pipe; "quit" ends the
// process with code 0. Returns -1 when the session ends otherwise.
int PipeServerLoop();
