// What the end-to-end tests need to drive the real programs: a private
// runtime folder and home, child processes with captured output, and
// clients for the control pipe, the notification socket and HTTP.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint16_t kPort = 3465;

// Polls `done` every 20 ms until it holds or `limit` has passed.
bool WaitUntil(const std::function<bool()>& done, milliseconds limit);

// A private XDG_RUNTIME_DIR and HOME (mode 0700), removed at the end.
class TestHome {
 public:
  TestHome();
  ~TestHome();
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::string& root() const { return root_; }
  std::string runtime_dir() const { return root_ + "/run"; }
  std::string home_dir() const { return root_ + "/home"; }
  std::string pipe_path() const { return runtime_dir() + "/docklane_pipe"; }

  // The test's environment for a child: this process's, without any
  // display, session runtime folder or notification socket, plus ours.
  std::vector<std::string> Environment(const std::vector<std::string>& extra = {}) const;

 private:
  std::string root_;
};

// A child process; killed and reaped at the end if still running.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& env,
          const std::string& output_prefix, const std::vector<std::string>& args = {},
          const std::string& stdin_path = "/dev/null");
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool Running();
  // The exit code (128 + signal for a killed process), or nothing when it
  // is still running after `limit`.
  std::optional<int> WaitExit(milliseconds limit);
  void Signal(int signal);
  std::string Stdout() const;
  std::string Stderr() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> exit_code_;
  std::string out_path_;
  std::string err_path_;
};

// An Xvfb of the test's own on a display number it picks itself.
class VirtualDisplay {
 public:
  // `screen` is Xvfb's WIDTHxHEIGHTxDEPTH.
  explicit VirtualDisplay(const TestHome& home, const std::string& screen = "640x480x24");
  ~VirtualDisplay();
  // ":<n>", or empty when Xvfb could not be started.
  const std::string& name() const { return name_; }

 private:
  std::unique_ptr<Process> server_;
  std::string name_;
};

// Context switches of all threads of `pid` so far: how often it woke up.
long ContextSwitches(pid_t pid);

// Something accepts TCP connections on 127.0.0.1:`port`.
bool Listening(std::uint16_t port);

struct HttpReply {
  bool ok = false;  // a whole reply arrived
  std::string status_line;
  std::string body;
};
// `receive_limit` bounds each wait for more of the reply.
HttpReply HttpGet(const std::string& path, milliseconds receive_limit = milliseconds(10000));
// A POST of `body` (a simple request, as a page's fetch of text sends it).
HttpReply HttpPost(const std::string& path, const std::string& body,
                   milliseconds receive_limit = milliseconds(10000));
// Sends `request` as it is and reads the reply.
HttpReply HttpExchange(const std::string& request, milliseconds receive_limit);

// `text` with every byte but the unreserved ones (letters, digits, "-._~")
// percent-encoded, for a query value.
std::string UrlEncode(const std::string& text);

// `path` with the query "k1=v1&k2=v2..." of URL-encoded values.
std::string WithQuery(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& params);

// A raw client of the control pipe, independent of the code under test.
class PipeClient {
 public:
  enum Status { kMessage, kClosed, kTimeout };
  struct Reply {
    Status status = kTimeout;
    std::string bytes;
  };

  ~PipeClient();
  // Connects; false (with errno kept in error()) when refused.
  bool Connect(const std::string& path);
  bool Send(const std::string& bytes);
  Reply Receive(milliseconds limit);
  // One request, one reply.
  Reply Exchange(const std::string& request, milliseconds limit = milliseconds(5000));
  void Close();
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path);
  ~NotifySocket();
  const std::string& path() const { return path_; }
  // Every datagram received so far (waiting up to `limit` for a new one).
  const std::vector<std::string>& Messages(milliseconds limit = milliseconds(0));
  bool Received(const std::string& assignment, milliseconds limit);

 private:
  int fd_ = -1;
  std::string path_;
  std::vector<std::string> messages_;
};

// Index of the first message containing `assignment` as a line, or -1.
int IndexOf(const std::vector<std::string>& messages, const std::string& assignment);

}  // namespace e2e
