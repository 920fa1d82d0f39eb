// The engine's management of the office process: time limits, crashes,
// restarts, idle stop, and what it leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <future>
#include <sstream>
#include <thread>

#include "libreoffice_test_support.hpp"
#include "platform/libreoffice/engine.hpp"

namespace {

using namespace lotest;
using platform::libreoffice::DocumentApp;
using platform::libreoffice::Engine;
using platform::libreoffice::EngineError;
using platform::libreoffice::OpenRequest;
using Clock = std::chrono::steady_clock;

fs::path WriteHtml(const fs::path& dir, const std::string& name, const std::string& text) {
  const fs::path p = dir / name;
  WriteFile(p, "<html><body><p>" + text + "</p></body></html>");
  return p;
}

// Converts `source` (HTML) to a web page at `target` through the engine.
void Convert(Engine& engine, const fs::path& source, const fs::path& target) {
  OpenRequest request;
  request.path = source.string();
  const auto doc = engine.Open(request);
  engine.SaveWebPage(doc, target);
  engine.Close(doc);
}

bool ProcessGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// Ended, though perhaps not yet reaped by the engine.
bool ProcessEnded(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return stat.empty() || (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z');
}

// Office pipe sockets this process's engines created in /tmp.
std::vector<std::string> OurSockets() {
  std::vector<std::string> found;
  const std::string prefix = "OSL_PIPE_" + std::to_string(::getuid()) + "_docklane_" + std::to_string(::getpid()) + "_";
  for (const auto& e : fs::directory_iterator("/tmp"))
    if (e.path().filename().string().rfind(prefix, 0) == 0) found.push_back(e.path());
  return found;
}

TEST(LibreOfficeEngine, HungOfficeIsKilledAndTheCallFailsWithinItsLimit) {
  auto options = TestOptions();
  options.callLimit = std::chrono::seconds(2);
  Engine engine(options);
  const auto dir = FreshDir("hung");
  Convert(engine, WriteHtml(dir, "a.html", "first"), dir / "a-out.html");
  const pid_t office = engine.OfficePid();
  ASSERT_GT(office, 0);
  ::kill(office, SIGSTOP);  // the office stops answering

  OpenRequest request;
  request.path = WriteHtml(dir, "b.html", "second").string();
  const auto start = Clock::now();
  try {
    engine.Open(request);
    FAIL() << "a hung office answered";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineError::Kind::kTimedOut) << e.what();
  }
  const auto waited = Clock::now() - start;
  // The office was running, so the call's own limit applies, plus the
  // clean-up after the kill.
  EXPECT_GE(waited, options.callLimit);
  EXPECT_LT(waited, options.callLimit + std::chrono::seconds(3));
  EXPECT_TRUE(ProcessGone(office));

  // The next call starts a fresh office and succeeds.
  Convert(engine, WriteHtml(dir, "c.html", "third"), dir / "c-out.html");
  EXPECT_NE(ReadFile(dir / "c-out.html").find("third"), std::string::npos);
  EXPECT_NE(engine.OfficePid(), office);
}

TEST(LibreOfficeEngine, OfficeKilledDuringAConversionFailsTheCallAndTheNextOneSucceeds) {
  Engine engine(TestOptions());
  const auto dir = FreshDir("killed");
  // A document long enough that saving it takes a while.
  std::vector<std::string> paragraphs;
  for (int i = 0; i < 6000; ++i) paragraphs.push_back("Paragraph " + std::to_string(i) + " 한국어 텍스트 @");
  MakeDocument(engine, DocumentApp::kWriter, FlatText(paragraphs), dir / "long.odt", "writer8");
  OpenRequest request;
  request.path = (dir / "long.odt").string();
  const auto doc = engine.Open(request);
  const pid_t office = engine.OfficePid();

  std::thread killer([office] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(office, SIGKILL);
  });
  const auto start = Clock::now();
  try {
    engine.SaveCopy(doc, dir / "long.pdf", "writer_pdf_Export");
    ADD_FAILURE() << "the conversion finished before the office was killed; make the document longer";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineError::Kind::kEngineLost) << e.what();
  }
  killer.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(ProcessGone(office));
  // The document went with the office.
  EXPECT_EQ(engine.OpenDocuments(), 0u);
  EXPECT_THROW(engine.SaveWebPage(doc, dir / "x.html"), EngineError);

  Convert(engine, WriteHtml(dir, "after.html", "afterthecrash"), dir / "after-out.html");
  EXPECT_NE(ReadFile(dir / "after-out.html").find("afterthecrash"), std::string::npos);
}

TEST(LibreOfficeEngine, CrashedOfficeIsRestartedOnTheNextCall) {
  Engine engine(TestOptions());
  const auto dir = FreshDir("crashed");
  Convert(engine, WriteHtml(dir, "a.html", "one"), dir / "one.html");
  const pid_t office = engine.OfficePid();
  ::kill(office, SIGKILL);
  const unsigned starts = engine.Starts();
  while (!ProcessEnded(office)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Convert(engine, WriteHtml(dir, "b.html", "two"), dir / "two.html");
  EXPECT_NE(ReadFile(dir / "two.html").find("two"), std::string::npos);
  EXPECT_EQ(engine.Starts(), starts + 1);
  EXPECT_NE(engine.OfficePid(), office);
}

TEST(LibreOfficeEngine, RestartsAfterItsDocumentAllowance) {
  auto options = TestOptions();
  options.documentsPerRun = 2;
  Engine engine(options);
  const auto dir = FreshDir("allowance");
  std::vector<pid_t> pids;
  for (int i = 0; i < 5; ++i) {
    Convert(engine, WriteHtml(dir, "a.html", "doc " + std::to_string(i)), dir / "out.html");
    pids.push_back(engine.OfficePid());
  }
  // Two documents per office: 1 2 | 3 4 | 5.
  EXPECT_EQ(pids[0], pids[1]);
  EXPECT_NE(pids[1], pids[2]);
  EXPECT_EQ(pids[2], pids[3]);
  EXPECT_NE(pids[3], pids[4]);
  EXPECT_TRUE(ProcessGone(pids[0]));
  EXPECT_NE(ReadFile(dir / "out.html").find("doc 4"), std::string::npos);
}

TEST(LibreOfficeEngine, NeverRestartsUnderAnOpenDocument) {
  auto options = TestOptions();
  options.documentsPerRun = 1;
  Engine engine(options);
  const auto dir = FreshDir("open-doc");
  OpenRequest first;
  first.path = WriteHtml(dir, "a.html", "keptopen").string();
  const auto kept = engine.Open(first);
  const pid_t office = engine.OfficePid();
  Convert(engine, WriteHtml(dir, "b.html", "second"), dir / "b-out.html");
  EXPECT_EQ(engine.OfficePid(), office);
  engine.SaveWebPage(kept, dir / "kept.html");
  EXPECT_NE(ReadFile(dir / "kept.html").find("keptopen"), std::string::npos);
  engine.Close(kept);
}

TEST(LibreOfficeEngine, StopsWhenIdleAndStartsAgainOnDemand) {
  auto options = TestOptions();
  options.idleLimit = std::chrono::milliseconds(500);
  Engine engine(options);
  const auto dir = FreshDir("idle");
  Convert(engine, WriteHtml(dir, "a.html", "before"), dir / "a-out.html");
  const pid_t office = engine.OfficePid();
  ASSERT_GT(office, 0);
  // The office and its work folder go.
  auto workDirs = [] {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(std::getenv("XDG_RUNTIME_DIR")))
      if (e.path().filename().string().rfind("docklane-office-", 0) == 0) found.push_back(e.path());
    return found;
  };
  const auto until = Clock::now() + std::chrono::seconds(10);
  while ((engine.OfficePid() > 0 || !workDirs().empty()) && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(engine.OfficePid(), -1);
  EXPECT_TRUE(ProcessGone(office));
  EXPECT_TRUE(workDirs().empty());
  Convert(engine, WriteHtml(dir, "b.html", "after"), dir / "b-out.html");
  EXPECT_NE(ReadFile(dir / "b-out.html").find("after"), std::string::npos);
}

TEST(LibreOfficeEngine, StopLeavesNoProcessNoSocketsAndNoFolders) {
  const fs::path runtime = std::getenv("XDG_RUNTIME_DIR");
  // The folder of an engine whose program was killed is cleared by the next one.
  const fs::path stale = runtime / "docklane-office-999999999-1";
  fs::create_directories(stale / "profile");
  ASSERT_TRUE(ProcessGone(999999999));
  pid_t office = -1;
  fs::path workDir;
  std::vector<std::string> sockets;
  {
    Engine engine(TestOptions());
    EXPECT_FALSE(fs::exists(stale));
    const auto dir = FreshDir("stop");
    Convert(engine, WriteHtml(dir, "a.html", "x"), dir / "a-out.html");
    office = engine.OfficePid();
    EXPECT_FALSE(OurSockets().empty());
    for (const auto& e : fs::directory_iterator(runtime))
      if (e.path().filename().string().rfind("docklane-office-", 0) == 0) workDir = e.path();
    ASSERT_FALSE(workDir.empty());
    struct stat st {};
    ASSERT_EQ(::stat(workDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // The office keeps its temporary files in the work folder, not in /tmp.
    EXPECT_TRUE(fs::is_directory(workDir / "tmp"));
    // Its pipe sockets (its own single-instance pipe among them) are recorded.
    std::istringstream list(ReadFile(workDir / "sockets"));
    for (std::string line; std::getline(list, line);) {
      if (fs::exists(fs::symlink_status(line))) sockets.push_back(line);
    }
    EXPECT_GE(sockets.size(), 2u);
    EXPECT_TRUE(std::any_of(sockets.begin(), sockets.end(),
                            [](const std::string& s) { return s.find("SingleOfficeIPC") != std::string::npos; }));
  }
  EXPECT_TRUE(ProcessGone(office));
  EXPECT_TRUE(OurSockets().empty());
  for (const auto& s : sockets) EXPECT_FALSE(fs::exists(fs::symlink_status(s))) << s;
  EXPECT_FALSE(fs::exists(workDir));
}

TEST(LibreOfficeEngine, NotInstalledFailsEveryCallClearly) {
  auto options = TestOptions();
  options.programDir = "/nonexistent/program";
  Engine engine(options);
  const auto dir = FreshDir("absent");
  OpenRequest request;
  request.path = WriteHtml(dir, "a.html", "x").string();
  try {
    engine.Open(request);
    FAIL() << "opened without an office";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineError::Kind::kNotInstalled);
  }
}

}  // namespace

namespace {

// Run in a child process by the test below: starts an office, reports its
// process id and work folder, and waits to be killed.
// Run in a child process by the tests below: starts the shared office,
// reports its process id, then either waits to be killed or exits the way
// the program does on "quit".
TEST(LibreOfficeEngineChild, RunsAnOffice) {
  const char* report = std::getenv("DL_LO_CHILD_REPORT");
  if (report == nullptr) GTEST_SKIP() << "run by the tests of a program's end";
  auto engine = Engine::Shared();
  const auto dir = FreshDir("child");
  Convert(*engine, WriteHtml(dir, "a.html", "child"), dir / "a-out.html");
  WriteFile(std::string(report) + ".tmp", std::to_string(engine->OfficePid()) + "\n");
  fs::rename(std::string(report) + ".tmp", report);
  if (std::getenv("DL_LO_CHILD_EXIT") != nullptr) {
    // As Docklane ends: the engine first, then an exit without destructors.
    platform::libreoffice::StopSharedEngine();
    std::_Exit(0);
  }
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// Starts the child above; returns its process id.
pid_t StartChild(const fs::path& report, bool exits) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("DL_LO_CHILD_REPORT", report.c_str(), 1);
    if (exits) ::setenv("DL_LO_CHILD_EXIT", "1", 1);
    ::execl("/proc/self/exe", "platform_libreoffice_tests", "--gtest_filter=LibreOfficeEngineChild.RunsAnOffice",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return child;
}

// Never leaves a child running, whatever fails.
struct Reaper {
  pid_t pid;
  ~Reaper() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

std::vector<fs::path> WorkDirsOf(pid_t pid) {
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(std::getenv("XDG_RUNTIME_DIR")))
    if (e.path().filename().string().rfind("docklane-office-" + std::to_string(pid) + "-", 0) == 0)
      found.push_back(e.path());
  return found;
}

TEST(LibreOfficeEngine, SharedOfficeStopsWhenTheProgramExits) {
  const fs::path report = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "exit-report";
  Reaper reaper{StartChild(report, true)};
  ASSERT_GT(reaper.pid, 0);
  int status = -1;
  ASSERT_EQ(::waitpid(reaper.pid, &status, 0), reaper.pid);
  const pid_t child = reaper.pid;
  reaper.pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_TRUE(fs::exists(report));
  const pid_t office = static_cast<pid_t>(std::stol(ReadFile(report)));
  EXPECT_TRUE(ProcessGone(office));
  EXPECT_TRUE(WorkDirsOf(child).empty());
  const std::string prefix = "OSL_PIPE_" + std::to_string(::getuid()) + "_docklane_" + std::to_string(child) + "_";
  for (const auto& e : fs::directory_iterator("/tmp"))
    EXPECT_NE(e.path().filename().string().rfind(prefix, 0), 0u) << e.path();
}

TEST(LibreOfficeEngine, OfficeDiesWithAKilledProgramAndTheNextEngineClearsItsFiles) {
  const fs::path report = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "child-report";
  const pid_t child = StartChild(report, false);
  ASSERT_GT(child, 0);
  Reaper reaper{child};
  const auto until = Clock::now() + std::chrono::seconds(60);
  while (!fs::exists(report) && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(fs::exists(report)) << "the child did not start an office";
  const pid_t office = static_cast<pid_t>(std::stol(ReadFile(report)));
  const std::vector<fs::path> childDirs = WorkDirsOf(child);
  ASSERT_EQ(childDirs.size(), 1u);
  const std::string socketList = ReadFile(childDirs[0] / "sockets");

  ::kill(child, SIGKILL);  // no clean-up of its own runs
  ::waitpid(child, nullptr, 0);
  reaper.pid = -1;
  // The office goes with the program that started it.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!ProcessEnded(office) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(ProcessEnded(office));

  // What it left is cleared by the next engine.
  EXPECT_TRUE(fs::exists(childDirs[0]));
  Engine next(TestOptions());
  EXPECT_FALSE(fs::exists(childDirs[0]));
  std::istringstream sockets(socketList);
  for (std::string line; std::getline(sockets, line);) {
    if (line.empty()) continue;
    EXPECT_FALSE(fs::exists(fs::symlink_status(line))) << line;
  }
}

}  // namespace
