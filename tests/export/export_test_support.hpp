// Shared by the export folder tests: a private export root per test (its own
// XDG_RUNTIME_DIR and HOME, mode 0700) and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "export/export_paths.hpp"
#include "tests/platform/codepage_test_locales.hpp"

namespace export_test {

using test_locales::ScopedEnv;
using test_locales::ScopedLocale;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/dl-export-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) path_ = made;
    chmod(path_.c_str(), 0700);
  }
  ~TempDir() {
    std::error_code ignored;
    // remove_all deletes symlinks themselves, never their targets.
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline void MakeDir(const std::string& path) {
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
}

// Every test gets a fresh export root below its own runtime folder.
class ExportFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_TRUE(InitExportPaths(&reason)) << reason;
    ASSERT_EQ(ExportRootUtf8(), runtime_.path() + "/docklane");
  }

  std::string Root() const { return ExportRootUtf8(); }
  std::string Support() const { return SupportFolderPathUtf8(); }

  // Writes a file into the support folder, creating the folder.
  void WriteSupportFile(const std::string& name, const std::string& bytes) {
    mkdir(Support().c_str(), 0700);
    WriteFile(Support() + "/" + name, bytes);
  }

  TempDir runtime_;
  TempDir home_;
  TempDir outside_;  // a folder that is not part of the export root
  ScopedEnv xdg_{"XDG_RUNTIME_DIR", runtime_.path().c_str()};
  ScopedEnv home_env_{"HOME", home_.path().c_str()};
};

}  // namespace export_test
