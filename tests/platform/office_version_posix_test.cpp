// The LibreOffice backend on install trees made by the test, and on the
// machine's own installation when there is one.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/office_version_posix.hpp"

namespace fs = std::filesystem;
using platform::RegisteredWordVersion;
using State = platform::RegisteredWordVersion::State;

namespace {

class InstallTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dl_lo_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // A program folder with an "soffice" of the given mode and, when
  // `bootstraprc` is not null, that file.
  std::string Program(const std::string& name, mode_t soffice_mode, const char* bootstraprc) {
    fs::path dir = root_ / name / "program";
    fs::create_directories(dir);
    std::ofstream(dir / "soffice") << "#!/bin/sh\nexit 1\n";
    ::chmod((dir / "soffice").c_str(), soffice_mode);
    if (bootstraprc) std::ofstream(dir / "bootstraprc") << bootstraprc;
    return dir.string();
  }

  static RegisteredWordVersion Read(std::vector<std::string> dirs) {
    return platform::CreateLibreOfficeVersion(std::move(dirs))->ReadWordCurVer();
  }

  fs::path root_;
};

TEST_F(InstallTree, ProductKeyVersionBecomesTheCurrentVersion) {
  auto dir = Program("lo", 0755,
                     "[Bootstrap]\nInstallMode=<installmode>\nProductKey=LibreOffice 7.4\n"
                     "UserInstallation=$SYSUSERCONFIG/libreoffice/4\n");
  RegisteredWordVersion reg = Read({dir});
  EXPECT_EQ(reg.state, State::kPresent);
  EXPECT_EQ(reg.value, u"Word.Application.7.4");
}

TEST_F(InstallTree, NoProgramMeansNothingRegistered) {
  EXPECT_EQ(Read({(root_ / "none").string()}).state, State::kMissing);
  // A folder with the version file but no runnable program is no engine.
  auto dir = Program("noexec", 0644, "ProductKey=LibreOffice 7.4\n");
  EXPECT_EQ(Read({dir}).state, State::kMissing);
  EXPECT_EQ(Read({}).state, State::kMissing);
}

TEST_F(InstallTree, ProgramWithoutReadableVersionIsUnreadable) {
  EXPECT_EQ(Read({Program("norc", 0755, nullptr)}).state, State::kUnreadable);
  EXPECT_EQ(Read({Program("nokey", 0755, "[Bootstrap]\nInstallMode=x\n")}).state, State::kUnreadable);
  EXPECT_EQ(Read({Program("badkey", 0755, "ProductKey=LibreOffice\n")}).state, State::kUnreadable);
  EXPECT_EQ(Read({Program("junk", 0755, "ProductKey=LibreOffice 7.4; rm -rf\n")}).state,
            State::kUnreadable);
}

TEST_F(InstallTree, HugeVersionFileIsReadOnlyInPart) {
  // The key lies beyond the bounded read: reported as unreadable, not slurped.
  std::string rc(1 << 20, '#');
  rc += "\nProductKey=LibreOffice 7.4\n";
  auto reg = Read({Program("huge", 0755, rc.c_str())});
  EXPECT_EQ(reg.state, State::kUnreadable);
}

TEST_F(InstallTree, FirstInstalledFolderWins) {
  auto first = Program("a", 0755, "ProductKey=LibreOffice 24.2\r\n");
  auto second = Program("b", 0755, "ProductKey=LibreOffice 7.4\n");
  EXPECT_EQ(Read({(root_ / "missing").string(), first, second}).value, u"Word.Application.24.2");
}

TEST(InstalledEngine, MachineInstallationReportsItsVersion) {
  if (!fs::exists("/usr/lib/libreoffice/program/soffice")) GTEST_SKIP() << "no LibreOffice here";
  RegisteredWordVersion reg = platform::OfficeVersion::CreatePlatformBackend()->ReadWordCurVer();
  ASSERT_EQ(reg.state, State::kPresent);
  ASSERT_GT(reg.value.size(), 17u);
  EXPECT_TRUE(reg.value[17] >= u'1' && reg.value[17] <= u'9');
}

}  // namespace
