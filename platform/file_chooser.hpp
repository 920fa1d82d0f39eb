// The open-file chooser of the desktop session.
//
// Docklane has no window of its own; when the editor page imports a document
// the person at the desktop picks the file in the session's standard chooser.
// One backend per platform (posix/zenity_file_chooser.cpp), a test double in
// testing/fake_file_chooser.hpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/current_backend.hpp"

namespace platform {

// One entry of the chooser's file-type list.
struct FileFilter {
  std::string name;                   // UTF-8, shown to the user
  std::vector<std::string> patterns;  // shell patterns such as "*.docx"

  friend bool operator==(const FileFilter& a, const FileFilter& b) {
    return a.name == b.name && a.patterns == b.patterns;
  }
  friend bool operator!=(const FileFilter& a, const FileFilter& b) { return !(a == b); }
};

class FileChooser {
 public:
  virtual ~FileChooser() = default;

  // Shows an open-file chooser titled `title` (UTF-8) that offers `filters`
  // in this order, the first one preselected, and returns the chosen path
  // (UTF-8), or "" when the user cancelled or no chooser could be shown.
  // Waits for the user without a time limit.
  virtual std::string ChooseFile(const std::string& title, const std::vector<FileFilter>& filters) = 0;

  // The process-wide chooser: the platform backend unless a test has
  // installed another one.
  static FileChooser& Get() { return CurrentBackend<FileChooser>::Get(); }

  // Installs `chooser` as the process-wide one (nullptr restores the platform
  // backend). Not thread-safe; call it before any chooser is shown.
  static void SetForTesting(std::unique_ptr<FileChooser> chooser) {
    CurrentBackend<FileChooser>::SetForTesting(std::move(chooser));
  }

  // A new instance of the platform backend.
  static std::unique_ptr<FileChooser> CreatePlatformBackend();
};

}  // namespace platform
