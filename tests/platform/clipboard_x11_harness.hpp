// A private X display and clipboard owners for tests of the X11 clipboard.
//
// Xvfb picks a free display number itself (-displayfd); owners are xclip
// processes serving one target, or a silent owner that takes the clipboard
// and never answers. Every process is ended by its id when its holder goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace clipboard_test {

// A child process, killed and reaped when this object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  // Starts `argv` with DISPLAY set to `display` ("" removes DISPLAY).
  ChildProcess(const std::vector<std::string>& argv, const std::string& display);
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;

  pid_t pid() const { return pid_; }
  void Kill();

 private:
  pid_t pid_ = -1;
};

class Xvfb {
 public:
  // Starts a server; display() is empty when it could not be started.
  Xvfb();
  ~Xvfb();
  const std::string& display() const { return display_; }
  pid_t pid() const { return pid_; }
  void Kill();

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// True once some client owns CLIPBOARD on `display` (false after `timeout`).
bool WaitForClipboardOwner(const std::string& display, bool owned,
                           std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// An xclip process that owns CLIPBOARD and serves `data` as `target` ("" for
// xclip's own text targets). The constructor returns once the selection is
// owned.
class XclipOwner {
 public:
  XclipOwner(const std::string& display, const std::string& target, const std::string& data);
  ~XclipOwner();
  bool owns() const { return owns_; }

 private:
  std::string display_;
  std::string path_;
  ChildProcess process_;
  bool owns_ = false;
};

// A client of our own that takes CLIPBOARD and never answers a request.
class SilentOwner {
 public:
  explicit SilentOwner(const std::string& display);
  ~SilentOwner();
  bool owns() const { return owns_; }

 private:
  std::string display_;
  ChildProcess process_;
  bool owns_ = false;
};

// A valid 1x1 PNG of `total_size` bytes (at least its minimal size), padded
// with an ancillary chunk, so that large pictures are quick to make.
std::string MakePng(std::size_t total_size);

// A fresh temporary directory (mode 0700), removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& data) const;

 private:
  std::string path_;
};

}  // namespace clipboard_test
