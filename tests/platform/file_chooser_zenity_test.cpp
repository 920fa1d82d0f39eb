// The zenity file chooser driven through small shell scripts that stand in
// for the dialog program, and the test double.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/file_chooser.hpp"
#include "platform/posix/zenity_file_chooser.hpp"
#include "platform/testing/fake_file_chooser.hpp"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class ZenityFileChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/file_chooser_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANG"}) {
      const char* v = getenv(name);
      saved_.push_back({name, v != nullptr, v ? v : ""});
    }
    setenv("DISPLAY", ":98", 1);  // the scripts need no real display
    unsetenv("WAYLAND_DISPLAY");
  }

  void TearDown() override {
    for (const Saved& s : saved_) {
      if (s.set) setenv(s.name.c_str(), s.value.c_str(), 1);
      else unsetenv(s.name.c_str());
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

  // Writes each argument on a line of args.txt and answers with a path.
  std::string ArgsRecorder() {
    return Script("record",
                  "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + dir_ + "/args.txt\necho /picked.docx");
  }

  std::string dir_;

 private:
  struct Saved {
    std::string name;
    bool set;
    std::string value;
  };
  std::vector<Saved> saved_;
};

const std::string kHangul = "\xEA\xB0\x80";  // U+AC00

TEST_F(ZenityFileChooserTest, PassesTheTitleAndTheFiltersInOrder) {
  struct Case {
    const char* what;
    std::string title;
    std::vector<FileFilter> filters;
    std::string expected;  // the arguments after the program, one a line
  };
  const std::string korean_name = "\xEC\x9B\x8C\xEB\x93\x9C \xEB\xAC\xB8\xEC\x84\x9C (*.docs,*.doc)";  // 워드 문서
  const std::vector<Case> cases = {
      {"two filters",
       "Import",
       {{"Word", {"*.docx", "*.doc"}}, {"HTML", {"*.html", "*.htm"}}},
       "--file-selection\n--title=Import\n--file-filter=Word | *.docx *.doc\n--file-filter=HTML | *.html *.htm\n"},
      {"UTF-8 title and names",
       "\xEC\x97\xB4\xEA\xB8\xB0",  // 열기
       {{korean_name, {"*.docx", "*.doc"}}},
       "--file-selection\n--title=\xEC\x97\xB4\xEA\xB8\xB0\n--file-filter=" + korean_name + " | *.docx *.doc\n"},
      {"a '|' in a name would end it early",
       "t",
       {{"Word | Excel", {"*.doc"}}},
       "--file-selection\n--title=t\n--file-filter=Word \xC2\xA6 Excel | *.doc\n"},
      {"a blank in a pattern would split it, an empty pattern is dropped",
       "t",
       {{"Mine", {"*.my doc", "", "*.x"}}},
       "--file-selection\n--title=t\n--file-filter=Mine | *.my?doc *.x\n"},
      {"a filter without patterns matches nothing and is left out",
       "t",
       {{"None", {}}, {"Text", {"*.txt"}}},
       "--file-selection\n--title=t\n--file-filter=Text | *.txt\n"},
      {"no filters", "t", {}, "--file-selection\n--title=t\n"},
      {"shell syntax stays literal",
       "$(touch " + dir_ + "/injected) `id`; *",
       {{"$(id)", {"*.$x"}}},
       "--file-selection\n--title=$(touch " + dir_ + "/injected) `id`; *\n--file-filter=$(id) | *.$x\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZenityFileChooser chooser(ArgsRecorder());
    EXPECT_EQ(chooser.ChooseFile(c.title, c.filters), "/picked.docx");
    EXPECT_EQ(Read("args.txt"), c.expected);
  }
  EXPECT_FALSE(Exists("injected"));
}

TEST_F(ZenityFileChooserTest, ALongTitleIsCutAtACharacterBoundary) {
  std::string title;
  for (int i = 0; i < 3000; ++i) title += kHangul;  // 9000 bytes
  ZenityFileChooser(ArgsRecorder()).ChooseFile(title, {});
  std::string kept;
  for (int i = 0; i < 8192 / 3; ++i) kept += kHangul;
  EXPECT_EQ(Read("args.txt"), "--file-selection\n--title=" + kept + "\n");
}

TEST_F(ZenityFileChooserTest, TheAnswerIsTheOutputWithoutItsNewline) {
  struct Case {
    const char* what;
    std::string body;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"a path", "printf '/home/u/a b.docx\\n'", "/home/u/a b.docx"},
      {"no newline", "printf '/home/u/x.doc'", "/home/u/x.doc"},
      {"only one newline is stripped", "printf '/home/u/line\\n\\n'", "/home/u/line\n"},
      {"UTF-8", "printf '/home/u/\\352\\260\\200.docx\\n'", "/home/u/" + kHangul + ".docx"},
      {"64 KiB is still an answer", "head -c 65535 /dev/zero | tr '\\0' a; echo", std::string(65535, 'a')},
      {"more is none", "head -c 65536 /dev/zero | tr '\\0' a; echo", ""},
      {"far more is none", "head -c 10000000 /dev/zero | tr '\\0' a", ""},
      {"a zero byte", "printf '/x\\0y\\n'", ""},
      {"cancelled", "exit 1", ""},
      {"a path but a failure status", "printf '/x\\n'; exit 5", ""},
      {"killed", "printf '/x\\n'; kill -9 $$", ""},
      {"nothing chosen", "exit 0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = Clock::now();
    EXPECT_EQ(ZenityFileChooser(Script("answer", c.body)).ChooseFile("t", {}), c.expected);
    EXPECT_LT(Clock::now() - start, 5s);
  }
}

TEST_F(ZenityFileChooserTest, AHelperHoldingTheOutputOpenDoesNotDelayTheAnswer) {
  // Like a D-Bus launcher that GTK started and that outlives the chooser.
  const std::string chooser = Script("leaves_helper", "sleep 30 &\necho $! > " + dir_ + "/helper.pid\necho /x.txt");
  const auto start = Clock::now();
  EXPECT_EQ(ZenityFileChooser(chooser).ChooseFile("t", {}), "/x.txt");
  EXPECT_LT(Clock::now() - start, 5s);
  const pid_t helper = std::atoi(Read("helper.pid").c_str());
  if (helper > 0) kill(helper, SIGKILL);
}

TEST_F(ZenityFileChooserTest, TheChildGetsAUtf8CharacterTypeAndKeepsItsLanguage) {
  const std::string report = Script(
      "locale",
      "echo \"LC_ALL=${LC_ALL-unset} LC_CTYPE=${LC_CTYPE-unset} LANG=${LANG-unset} LC_MESSAGES=${LC_MESSAGES-unset}\"");
  unsetenv("LC_ALL");
  setenv("LANG", "ko_KR.EUC-KR", 1);
  setenv("LC_CTYPE", "ko_KR.EUC-KR", 1);
  setenv("LC_MESSAGES", "fr_FR.UTF-8", 1);
  EXPECT_EQ(ZenityFileChooser(report).ChooseFile("t", {}),
            "LC_ALL=unset LC_CTYPE=C.UTF-8 LANG=ko_KR.EUC-KR LC_MESSAGES=fr_FR.UTF-8");
  // LC_ALL overrode all the others: its value becomes the default.
  setenv("LC_ALL", "ko_KR.EUC-KR", 1);
  EXPECT_EQ(ZenityFileChooser(report).ChooseFile("t", {}),
            "LC_ALL=unset LC_CTYPE=C.UTF-8 LANG=ko_KR.EUC-KR LC_MESSAGES=unset");
}

TEST_F(ZenityFileChooserTest, WithoutADisplayNothingIsStarted) {
  ZenityFileChooser chooser(Script("slow", "sleep 5; touch " + dir_ + "/ran; echo /x"));
  unsetenv("DISPLAY");
  EXPECT_FALSE(ZenityFileChooser::HasDisplay());
  const auto start = Clock::now();
  EXPECT_EQ(chooser.ChooseFile("t", {}), "");
  setenv("DISPLAY", "", 1);  // empty counts as none
  setenv("WAYLAND_DISPLAY", "", 1);
  EXPECT_EQ(chooser.ChooseFile("t", {}), "");
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_FALSE(Exists("ran"));

  unsetenv("DISPLAY");
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  EXPECT_TRUE(ZenityFileChooser::HasDisplay());
}

TEST_F(ZenityFileChooserTest, AProgramThatCannotStartIsACancelledChooser) {
  std::ofstream(dir_ + "/not-executable") << "#!/bin/sh\necho /x\n";
  std::filesystem::create_directory(dir_ + "/a-directory");
  chmod((dir_ + "/a-directory").c_str(), 0700);
  // Executable, but exec fails: its interpreter does not exist.
  const std::string bad_interpreter = dir_ + "/bad-interpreter";
  std::ofstream(bad_interpreter) << "#!/nonexistent/sh\necho /x\n";
  chmod(bad_interpreter.c_str(), 0700);
  const std::vector<std::string> programs = {
      dir_ + "/no-such-program", "docklane-no-such-program" /* looked up in PATH */, "",
      dir_ + "/not-executable",  dir_ + "/a-directory",                              bad_interpreter,
  };
  for (const std::string& program : programs) {
    SCOPED_TRACE(program);
    const auto start = Clock::now();
    EXPECT_EQ(ZenityFileChooser(program).ChooseFile("t", {{"Text", {"*.txt"}}}), "");
    EXPECT_LT(Clock::now() - start, 2s);
  }
}

TEST_F(ZenityFileChooserTest, TheChildInheritsNoDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);  // inheritable, like a socket opened without CLOEXEC
  // find lists the shell's descriptors; it writes the file itself, since a
  // redirection would move the shell's own.
  const std::string script =
      Script("fds", "find /proc/$$/fd -mindepth 1 -fprintf " + dir_ + "/fds.txt '%f %l\\n'\necho /x");
  EXPECT_EQ(ZenityFileChooser(script).ChooseFile("t", {}), "/x");
  close(fds[0]);
  close(fds[1]);
  std::istringstream listed(Read("fds.txt"));
  std::map<int, std::string> open;
  int fd;
  std::string target;
  while (listed >> fd >> target) open[fd] = target;
  EXPECT_EQ(open[0], "/dev/null");
  EXPECT_EQ(open[1].rfind("pipe:", 0), 0u) << open[1];
  EXPECT_EQ(open[2], "/dev/null");
  for (const auto& [number, what] : open) {
    // The shell keeps its script open; nothing else may be there.
    if (number > 2) {
      EXPECT_EQ(what, script) << "descriptor " << number;
    }
  }
}

// Waits for the stand-in to report its pid, then checks that it is gone
// shortly after the process that started it has gone.
bool GoneWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const std::size_t end = line.rfind(')');
    if (end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'Z') return true;  // unreaped
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

TEST_F(ZenityFileChooserTest, TheChooserEndsWithTheProcess) {
  const std::string pid_file = dir_ + "/chooser.pid";
  const std::string chooser = Script("wait_for_user", "echo $$ > " + pid_file + ".tmp && mv " + pid_file + ".tmp " +
                                                          pid_file + "\nexec sleep 600");
  struct Case {
    const char* what;
    bool exit_from_other_thread;  // else killed from outside
  };
  for (const Case c : {Case{"SIGKILL", false}, Case{"_Exit from another thread", true}}) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(pid_file);
    const auto pid_written = [&] {
      for (auto deadline = Clock::now() + 5s; Clock::now() < deadline; std::this_thread::sleep_for(10ms)) {
        if (std::filesystem::exists(pid_file)) return true;
      }
      return false;
    };
    const pid_t process = fork();
    ASSERT_GE(process, 0);
    if (process == 0) {
      if (!c.exit_from_other_thread) {
        ZenityFileChooser(chooser).ChooseFile("t", {});
        _exit(0);
      }
      // The server thread shows the chooser; the process ends meanwhile.
      std::thread([&] { ZenityFileChooser(chooser).ChooseFile("t", {}); }).detach();
      pid_written();
      _Exit(0);
    }
    const bool started = pid_written();
    if (!c.exit_from_other_thread) kill(process, SIGKILL);
    int status = 0;
    waitpid(process, &status, 0);
    ASSERT_TRUE(started);
    const pid_t shown = std::atoi(Read("chooser.pid").c_str());
    ASSERT_GT(shown, 0);
    EXPECT_TRUE(GoneWithin(shown, 2000ms));
    kill(shown, SIGKILL);  // should it have survived
  }
}

TEST(FakeFileChooser, AnswersAsScriptedAndRecordsEachCall) {
  FakeFileChooser chooser;
  const std::vector<FileFilter> filters = {{"Word", {"*.docx", "*.doc"}}, {"Text", {"*.txt"}}};
  chooser.SetAnswer("/home/u/a.docx");
  EXPECT_EQ(chooser.ChooseFile("Import", filters), "/home/u/a.docx");
  chooser.SetAnswer("");
  EXPECT_EQ(chooser.ChooseFile("Again", {}), "");
  const std::vector<FakeFileChooser::Call> calls = chooser.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].title, "Import");
  EXPECT_EQ(calls[0].filters, filters);
  EXPECT_EQ(calls[1].title, "Again");
  EXPECT_TRUE(calls[1].filters.empty());
}

TEST(FakeFileChooser, RunsTheTestWhileOpenOnTheCallingThread) {
  FakeFileChooser chooser;
  chooser.SetAnswer("/x.txt");
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false, released = false;
  std::thread::id open_on;
  chooser.SetWhileOpen([&] {
    std::unique_lock<std::mutex> lock(mutex);
    open = true;
    open_on = std::this_thread::get_id();
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  });
  std::string answer;
  std::thread caller([&] { answer = chooser.ChooseFile("t", {}); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return open; }));
    EXPECT_EQ(open_on, caller.get_id());
    EXPECT_EQ(chooser.calls().size(), 1u);  // recorded before it opened
    EXPECT_EQ(answer, "");                  // and not answered yet
    released = true;
    changed.notify_all();
  }
  caller.join();
  EXPECT_EQ(answer, "/x.txt");
}

TEST(FakeFileChooser, ReplacesThePlatformBackend) {
  auto fake = std::make_unique<FakeFileChooser>();
  FakeFileChooser* installed = fake.get();
  installed->SetAnswer("/a.doc");
  FileChooser::SetForTesting(std::move(fake));
  EXPECT_EQ(FileChooser::Get().ChooseFile("t", {}), "/a.doc");
  EXPECT_EQ(installed->calls().size(), 1u);
  FileChooser::SetForTesting(nullptr);
  EXPECT_NE(dynamic_cast<ZenityFileChooser*>(&FileChooser::Get()), nullptr);
}

}  // namespace
}  // namespace platform
