// The open-file chooser shown by zenity (GTK's chooser in a child process).
//
// The child cannot outlive Docklane: it is started with a parent-death
// signal (SIGKILL), so it ends with the process however the process ends,
// _Exit and SIGKILL included. Linux ties that signal to the thread that
// forked rather than to the process; ChooseFile blocks its thread until the
// child has been reaped, so the forking thread always outlives the child and
// the signal only fires when the whole process goes. The one way to get it
// wrong is to end the calling thread while a chooser is open (pthread_exit
// or cancellation from a signal handler): the chooser would vanish with it.
#pragma once

#include <string>
#include <vector>

#include "platform/file_chooser.hpp"

namespace platform {

class ZenityFileChooser final : public FileChooser {
 public:
  // `program` is looked up in PATH unless it contains a '/'.
  explicit ZenityFileChooser(std::string program = "zenity");

  std::string ChooseFile(const std::string& title, const std::vector<FileFilter>& filters) override;

  // True when the session has a display to show a chooser on.
  static bool HasDisplay();

 private:
  std::string program_;
};

}  // namespace platform
