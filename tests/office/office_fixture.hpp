#pragma once
// Shared set-up of the office tests: a private export root, the recording
// automation server standing for Word, Excel and PowerPoint, message boxes
// recorded instead of shown, and helpers that spell expected log lines.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "office/deskrelay_dlg.hpp"
#include "export/export_paths.hpp"
#include "platform/automation.hpp"
#include "platform/testing/fake_dialogs.hpp"
#include "platform/testing/recording_automation_server.hpp"

namespace office_test {

inline std::u16string U16(const std::string& utf8) { return Automation::Variant::BstrFromUtf8(utf8).bstrVal(); }

// Pieces of RecordedCall::ToString lines.
const std::string kMissing = "VT_ERROR 0x80020004";
inline std::string Str(const std::string& utf8) { return "VT_BSTR \"" + utf8 + "\""; }
inline std::string ByRef(const std::string& value) { return "76: " + value; }  // VT_VARIANT | VT_BYREF
inline std::string ByVal(const std::string& value) { return "12: " + value; }  // VT_VARIANT
inline std::string Typed(int vt, const std::string& value) { return std::to_string(vt) + ": " + value; }
inline std::vector<std::string> Times(int n, const std::string& arg) { return std::vector<std::string>(n, arg); }
inline std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
// `object dispid kind -> result (args)`.
inline std::string Line(const std::string& object, int dispid, const std::string& kind, int result,
                        const std::vector<std::string>& args = {}) {
  std::string line = object + " " + std::to_string(dispid) + " " + kind + " -> " + std::to_string(result) + " (";
  for (std::size_t i = 0; i < args.size(); ++i) line += (i ? ", " : "") + args[i];
  return line + ")";
}

class OfficeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/office_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    tmp_ = dir;
    SaveEnv("XDG_RUNTIME_DIR");
    SaveEnv("HOME");
    ASSERT_EQ(mkdir((tmp_ + "/run").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((tmp_ + "/home").c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", (tmp_ + "/run").c_str(), 1);
    setenv("HOME", (tmp_ + "/home").c_str(), 1);
    std::string reason;
    ASSERT_TRUE(InitExportPaths(&reason)) << reason;
    root_ = ExportRootUtf8();

    server_ = std::make_unique<Automation::Testing::RecordingAutomationServer>();
    for (const char* progid : {"Word.Application", "Excel.Application", "PowerPoint.Application"})
      server_->Register(progid);
    SetVersion("Word.Application", 24, "16.0");
    SetVersion("Excel.Application", 392, "16.0");
    SetVersion("PowerPoint.Application", 2014, "16.0");

    auto dialogs = std::make_unique<platform::FakeDialogs>();
    dialogs_ = dialogs.get();
    platform::Dialogs::SetForTesting(std::move(dialogs));

    dlg_ = std::make_unique<CDeskrelayDlg>();
  }

  void TearDown() override {
    dlg_.reset();
    if (server_) {
      EXPECT_EQ(server_->LiveObjects(), 0) << "an automation object was leaked";
    }
    server_.reset();
    platform::Dialogs::SetForTesting(nullptr);
    for (auto& [name, value] : savedEnv_) {
      if (value.first) setenv(name.c_str(), value.second.c_str(), 1);
      else unsetenv(name.c_str());
    }
    InitExportPaths();
    std::error_code ec;
    std::filesystem::remove_all(tmp_, ec);
  }

  void SetVersion(const std::string& progid, int dispid, const std::string& version) {
    server_->SetResult(progid, dispid, Automation::Variant::BstrFromUtf8(version));
  }

  // A file the test owns, outside the export root.
  std::string WriteInput(const std::string& name, const std::string& content = "document") {
    const std::string path = tmp_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Log lines after the first `skip` ones.
  std::vector<std::string> LogFrom(std::size_t skip) const {
    auto log = server_->Log();
    return std::vector<std::string>(log.begin() + std::min(skip, log.size()), log.end());
  }

  // Entries of the export root, sorted.
  std::vector<std::string> ExportEntries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string tmp_;
  std::string root_;
  std::unique_ptr<Automation::Testing::RecordingAutomationServer> server_;
  platform::FakeDialogs* dialogs_ = nullptr;
  std::unique_ptr<CDeskrelayDlg> dlg_;

 private:
  void SaveEnv(const char* name) {
    const char* v = getenv(name);
    savedEnv_.push_back({name, {v != nullptr, v ? v : ""}});
  }
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> savedEnv_;
};

}  // namespace office_test
