// One soffice process: its private, seeded profile and temporary
// folder under a work folder of ours, its start, its end, and the clean-up of
// what it leaves behind (including the pipe sockets it creates in /tmp).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace platform::libreoffice {

class OfficeProcess {
 public:
  // `programDir` holds soffice.bin; `workDir` is created (mode 0700) on
  // Spawn and removed by RemoveWorkDir. A `visible` office may show
  // document windows on the display; otherwise it runs headless.
  OfficeProcess(std::filesystem::path programDir, std::filesystem::path workDir, bool visible = false);
  ~OfficeProcess();  // kills a running process and removes the work folder

  OfficeProcess(const OfficeProcess&) = delete;
  OfficeProcess& operator=(const OfficeProcess&) = delete;

  // True when the office program and its type library are installed.
  static bool Installed(const std::filesystem::path& programDir);
  // The product version ("7.4") from the install tree, or "" when unknown.
  static std::string ProductVersion(const std::filesystem::path& programDir);

  // Starts soffice accepting UNO connections on the pipe `pipeName`. Raises
  // std::runtime_error when it cannot be started.
  void Spawn(const std::string& pipeName);
  // True while the process runs; reaps it once it has ended.
  bool Running();
  // The exit status of an ended process (-1 while running or never started;
  // 128 + signal for a killed one).
  int ExitStatus() const;
  pid_t Pid() const;
  // Records the sockets the running process listens on, so that they can be
  // removed when it ends without removing them itself.
  void RecordSockets();
  // Ends the process group (SIGTERM, then SIGKILL after `grace`), waits for
  // it and removes its sockets.
  void Stop(std::chrono::milliseconds grace);
  // Removes the whole work folder (profile and temporary files).
  void RemoveWorkDir();

  const std::filesystem::path& WorkDir() const { return workDir_; }
  std::filesystem::path TempDir() const { return workDir_ / "tmp"; }
  std::filesystem::path StagingDir() const { return workDir_ / "staging"; }

  // The work folder name for this process's engine number `instance`; it
  // carries the process id so that stale folders can be recognised.
  static std::string WorkDirName(unsigned instance);
  // Removes the work folders and sockets of engines whose process is gone
  // (a Docklane that was killed), found in `baseDir`.
  static void RemoveStaleWorkDirs(const std::filesystem::path& baseDir);

 private:
  void SeedProfile();
  void RemoveSockets();
  bool ReapLocked(bool wait);

  std::filesystem::path programDir_;
  std::filesystem::path workDir_;
  bool visible_ = false;
  mutable std::mutex mutex_;
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  std::vector<std::string> sockets_;
};

// The folder below which engines keep their work folders:
// $XDG_RUNTIME_DIR, else $XDG_CACHE_HOME, else $HOME/.cache, else
// /tmp/docklane-<uid>.
std::filesystem::path DefaultEngineBaseDir();

}  // namespace platform::libreoffice
