// A private runtime folder for one test: XDG_RUNTIME_DIR points at a fresh
// mode-0700 directory, so the pipe's socket and lock never meet another
// test's or a running Docklane's. Removed again at the end.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

class PrivateRuntimeDir {
 public:
  PrivateRuntimeDir() {
    char templ[] = "/tmp/dl-pipe-test-XXXXXX";
    const char* made = ::mkdtemp(templ);
    if (made != nullptr) {
      path_ = made;
      ::chmod(made, 0700);
    }
    const char* old = ::getenv("XDG_RUNTIME_DIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  ~PrivateRuntimeDir() {
    if (had_old_) {
      ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
  PrivateRuntimeDir& operator=(const PrivateRuntimeDir&) = delete;

  const std::string& path() const { return path_; }
  std::string socket_path() const { return path_ + "/docklane_pipe"; }

 private:
  std::string path_;
  std::string old_;
  bool had_old_ = false;
};
