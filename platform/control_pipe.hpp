// The control pipe: a local, message-oriented channel between Docklane and
// its watchdog. Each message arrives whole or not at all, and the channel
// admits exactly one client for the life of the server: it doubles as
// Docklane's single-instance guard.
//
// The POSIX backend (posix/control_pipe.cpp) is a SOCK_SEQPACKET Unix socket
// in the user's runtime folder, guarded by a lock file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// How a read on the pipe ended.
struct PipeRead {
  enum Status {
    kMessage,   // a whole message of `size` bytes (possibly 0) is in the buffer
    kPeerGone,  // the other end closed the channel
    kTooLong,   // the message did not fit the buffer; it has been discarded
    kFailed,    // any other error, or the wait timed out
  };
  Status status = kFailed;
  std::size_t size = 0;
};

// How a write on the pipe ended.
enum class PipeWrite {
  kSent,      // the whole message is on its way
  kTooLarge,  // larger than the channel can carry as one message; nothing sent
  kFailed,    // the peer is gone, the wait timed out, or another error
};

// The server end, owned by Docklane.
class ControlPipeServer {
 public:
  enum class CreateResult {
    kCreated,         // this process owns the channel and listens on it
    kAlreadyRunning,  // another live process owns it
    kFailed,          // the channel could not be made; see ErrorText()
  };

  virtual ~ControlPipeServer() = default;

  // Claims the channel. A name left behind by a process that has died is
  // taken over.
  virtual CreateResult Create() = 0;

  // Blocks until the one client connects; afterwards no other client can
  // connect. False when the wait failed.
  virtual bool WaitForClient() = 0;

  // Reads one message into `buffer` (at most `capacity` bytes). Blocks until
  // a message arrives or the client goes.
  virtual PipeRead ReadMessage(char* buffer, std::size_t capacity) = 0;

  // Sends `size` bytes as one message.
  virtual PipeWrite WriteMessage(const char* data, std::size_t size) = 0;

  // Ends the connection, so that a client waiting for a reply learns at once
  // that none will come. The channel still admits nobody new.
  virtual void Disconnect() = 0;

  // Ends the connection and removes the channel's name, for a clean exit.
  // Ownership stays with this process until it ends.
  virtual void Remove() = 0;

  // Where the channel lives, for messages.
  virtual std::string Address() const = 0;

  // What went wrong in the last failed call, for messages.
  virtual std::string ErrorText() const = 0;
};

// The client end, used by the watchdog.
class ControlPipeClient {
 public:
  virtual ~ControlPipeClient() = default;

  // Connects to a listening server. False when none accepts (not running,
  // or its one connection is taken).
  virtual bool Open() = 0;
  virtual bool IsOpen() const = 0;

  // Switches the connection to whole-message reads. Messages are always
  // whole on POSIX; the call exists because other platforms need it.
  virtual bool SetMessageMode() = 0;

  virtual PipeWrite WriteMessage(const char* data, std::size_t size) = 0;

  // Reads one reply; waits at most kClientReplyTimeoutSeconds.
  virtual PipeRead ReadMessage(char* buffer, std::size_t capacity) = 0;

  virtual void Close() = 0;
};

// The server answers at once; a reply later than this means it is stuck.
constexpr int kClientReplyTimeoutSeconds = 30;

// The platform's backends, for the channel's fixed name in the user's
// runtime folder.
std::unique_ptr<ControlPipeServer> CreateControlPipeServer();
std::unique_ptr<ControlPipeClient> CreateControlPipeClient();

// Where the platform's channel lives (a socket path on POSIX).
std::string ControlPipeAddress();

}  // namespace platform
