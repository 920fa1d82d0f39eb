#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/dialogs.hpp"
#include "platform/posix/zenity_dialogs.hpp"
#include "platform/testing/fake_dialogs.hpp"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Runs the zenity backend against small shell scripts standing in for the
// dialog program.
class ZenityDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/dialogs_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    Save("DISPLAY");
    Save("WAYLAND_DISPLAY");
    setenv("DISPLAY", ":98", 1);  // the scripts need no real display
    unsetenv("WAYLAND_DISPLAY");
  }

  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value.first) setenv(name.c_str(), value.second.c_str(), 1);
      else unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0700);
    return path;
  }

  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ + "/" + name); }

  // A script that writes each argument on a line of args.txt.
  std::string ArgsRecorder() {
    return Script("record", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + dir_ + "/args.txt");
  }

  std::string dir_;

 private:
  void Save(const char* name) {
    const char* v = getenv(name);
    saved_.push_back({name, {v != nullptr, v ? v : ""}});
  }
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

TEST_F(ZenityDialogsTest, ShowsTheTextAsOneLiteralArgument) {
  ZenityDialogs dialogs(ArgsRecorder(), 60s);
  dialogs.ShowMessageBox("Cannot open the MS Word; $(touch " + dir_ + "/injected) <b>x</b>");
  EXPECT_EQ(Read("args.txt"),
            "--error\n--no-markup\n--title=Docklane\n--text=Cannot open the MS Word; $(touch " + dir_ +
                "/injected) <b>x</b>\n--timeout=60\n");
  EXPECT_FALSE(Exists("injected"));
}

TEST_F(ZenityDialogsTest, LongTextIsCut) {
  ZenityDialogs dialogs(ArgsRecorder(), 5s);
  dialogs.ShowMessageBox(std::string(100000, 'x'));
  const std::string args = Read("args.txt");
  EXPECT_NE(args.find("--text=" + std::string(4096, 'x') + "\n"), std::string::npos);
  EXPECT_EQ(args.find(std::string(4097, 'x')), std::string::npos);
}

TEST_F(ZenityDialogsTest, NothingIsShownWithoutADisplay) {
  unsetenv("DISPLAY");
  EXPECT_FALSE(ZenityDialogs::HasDisplay());
  ZenityDialogs dialogs(Script("touch", "touch " + dir_ + "/ran"), 60s);
  const auto start = Clock::now();
  dialogs.ShowMessageBox("Cannot open the MS Excel");
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_FALSE(Exists("ran"));

  setenv("DISPLAY", "", 1);  // empty counts as none
  dialogs.ShowMessageBox("Cannot open the MS Excel");
  EXPECT_FALSE(Exists("ran"));

  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  EXPECT_TRUE(ZenityDialogs::HasDisplay());
}

TEST_F(ZenityDialogsTest, AProgramThatHangsIsKilledAtTheTimeLimit) {
  ZenityDialogs dialogs(Script("hang", "exec sleep 600"), 1s, "Docklane", 0ms);
  const auto start = Clock::now();
  dialogs.ShowMessageBox("Cannot open the MS PowerPoint");
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 3s);
}

TEST_F(ZenityDialogsTest, AMissingProgramReturnsAtOnce) {
  ZenityDialogs dialogs(dir_ + "/no-such-program", 60s);
  const auto start = Clock::now();
  dialogs.ShowMessageBox("Cannot open the MS Word");
  EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(ZenityDialogsTest, TheProgramGetsNoOpenDescriptorsOfTheProcess) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);  // inheritable, like a socket opened without CLOEXEC
  ZenityDialogs dialogs(Script("fds", "ls /proc/$$/fd > " + dir_ + "/fds.txt"), 5s);
  dialogs.ShowMessageBox("x");
  std::istringstream listed(Read("fds.txt"));
  std::vector<int> open;
  for (int fd; listed >> fd;) open.push_back(fd);
  close(fds[0]);
  close(fds[1]);
  ASSERT_FALSE(open.empty());
  for (int fd : open) {
    EXPECT_NE(fd, fds[0]);
    EXPECT_NE(fd, fds[1]);
  }
}

TEST(FakeDialogs, RecordsTextsAndReplacesThePlatformBackend) {
  auto fake = std::make_unique<FakeDialogs>();
  FakeDialogs* seen = fake.get();
  Dialogs::SetForTesting(std::move(fake));
  Dialogs::Get().ShowMessageBox("Cannot open the MS Word");
  Dialogs::Get().ShowMessageBox("Cannot open the MS Excel");
  EXPECT_EQ(seen->messages(), (std::vector<std::string>{"Cannot open the MS Word", "Cannot open the MS Excel"}));
  Dialogs::SetForTesting(nullptr);
  EXPECT_NE(dynamic_cast<ZenityDialogs*>(&Dialogs::Get()), nullptr);
}

}  // namespace
}  // namespace platform
