// The desktop the end-to-end tests of the document endpoints run on: an Xvfb
// of their own (with openbox when asked), the real Docklane on it with its
// pipe client, a driver that plays the person at the desktop, and helpers
// that read replies as the editor page does.
#pragma once

#include <json/json.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/dialog_driver.hpp"
#include "tests/e2e/e2e_harness.hpp"

namespace e2e {

namespace fs = std::filesystem;
using std::chrono::seconds;

inline const std::string kKoreanBody = "한국어 본문";
inline const std::string kTitle = "문서 가져오기";
inline const std::string kDocxType = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
inline const std::string kPurged = "all exported files were deleted!";
// An engine start and one conversion of a small document take seconds; a
// minute and a half more than that means something hangs.
constexpr milliseconds kImportLimit = seconds(150);

inline std::string Document(const std::string& name) { return std::string(DL_E2E_DOCUMENTS) + "/" + name; }

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline bool ParseJson(const std::string& text, Json::Value& value) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  return reader->parse(text.data(), text.data() + text.size(), &value, &errors);
}

inline std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// `html` with every run of blanks, tabs and line breaks as one blank: the
// engine breaks long lines between words.
inline std::string Collapsed(const std::string& html) {
  std::string text;
  bool blank = false;
  for (const char c : html) {
    const bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (space && blank) continue;
    text += space ? ' ' : c;
    blank = space;
  }
  return text;
}

// What a reader sees of `html`: the text outside tags, blanks collapsed. The
// engine splits words into runs of their own markup.
inline std::string VisibleText(const std::string& html) {
  std::string text;
  bool in_tag = false;
  for (const char c : html) {
    if (c == '<') in_tag = true;
    if (!in_tag) text += c;
    if (c == '>') in_tag = false;
  }
  return Collapsed(text);
}

// Standard Base64 with padding, line breaks allowed; nothing on a stray byte.
inline std::optional<std::string> DecodeBase64(const std::string& text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  unsigned int bits = 0;
  int count = 0;
  bool padded = false;
  for (const char c : text) {
    if (c == '\r' || c == '\n') continue;
    if (c == '=') {
      padded = true;
      continue;
    }
    const int v = value(c);
    if (v < 0 || padded) return std::nullopt;
    bits = (bits << 6) | static_cast<unsigned int>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// "png", "jpeg" or "gif" from the file's signature, else "".
inline std::string PictureKind(const std::string& bytes) {
  if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) return "png";
  if (bytes.compare(0, 3, "\xFF\xD8\xFF") == 0) return "jpeg";
  if (bytes.compare(0, 6, "GIF87a") == 0 || bytes.compare(0, 6, "GIF89a") == 0) return "gif";
  return "";
}

inline std::vector<std::string> Names(const Json::Value& array) {
  std::vector<std::string> names;
  for (const Json::Value& item : array) names.push_back(item.asString());
  return names;
}

inline std::set<std::string> Keys(const Json::Value& object) {
  std::set<std::string> keys;
  if (object.isObject()) {
    for (const std::string& key : object.getMemberNames()) keys.insert(key);
  }
  return keys;
}

inline bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

inline bool Executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

struct ImportReply {
  HttpReply http;
  Json::Value json;
  bool parsed = false;
  bool answered = false;  // the driver did what the test asked of the dialog
  double seconds = 0;
};

// A desktop of the test's own (Xvfb, optionally openbox) with a Docklane on
// it whose pipe has its client, and a driver for its dialogs.
class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Listening(kPort)) << "something else already listens on port 3465";
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/zenity"}) {
      if (!Executable(tool)) GTEST_SKIP() << tool << " is not installed";
    }
  }

  void TearDown() override {
    // Asked to quit, Docklane ends its document engine itself.
    if (lane_ && lane_->Running()) {
      client_.Send("quit");
      lane_->WaitExit(milliseconds(15000));
    }
    lane_.reset();
    wm_.reset();
    display_.reset();
  }

  // A screen large enough for the chooser moved down to y = 200.
  void StartDisplay(bool window_manager) {
    if (window_manager && !Executable("/usr/bin/openbox")) GTEST_SKIP() << "openbox is not installed";
    // Now and then (three times in two CI runs) openbox never announces
    // itself on a new display; the whole desktop is then started anew.
    std::string failures;
    for (int attempt = 1; attempt <= 3; ++attempt) {
      wm_.reset();
      display_ = std::make_unique<VirtualDisplay>(home_, "1280x1024x24");
      ASSERT_FALSE(display_->name().empty()) << "Xvfb did not start";
      driver_ = std::make_unique<DialogDriver>(home_, display_->name());
      if (!window_manager) return;
      wm_ = std::make_unique<Process>("/usr/bin/openbox", home_.Environment({"DISPLAY=" + display_->name()}),
                                      home_.root() + "/openbox" + std::to_string(attempt),
                                      std::vector<std::string>{"--sm-disable", "--debug"});
      if (WaitUntil([&] { return driver_->WindowManagerRunning(); }, milliseconds(10000))) break;
      const std::string debug = wm_->Stderr();
      failures += "attempt " + std::to_string(attempt) + " on " + display_->name() + ", openbox " +
                  (wm_->Running() ? "still running" : "ended") + "; its output ends:\n" +
                  debug.substr(debug.size() > 1500 ? debug.size() - 1500 : 0) + "\n";
      ASSERT_LT(attempt, 3) << "openbox did not take the display:\n" << failures;
    }
    if (!failures.empty()) std::cerr << "openbox needed another start:\n" << failures;
    // openbox announces itself before it is through its start, and a map
    // request that comes meanwhile is lost: only once a window of ours has
    // been mapped will the chooser's be.
    StandInWindow probe(display_->name(), "Docklane e2e probe");
    ASSERT_TRUE(ShowStandIn(probe)) << "openbox maps no windows";
  }

  // Maps `window` until the window manager has shown it.
  bool ShowStandIn(StandInWindow& window) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      window.Map();
      if (WaitUntil(
              [&] {
                const std::optional<WindowState> state = driver_->Inspect(window.id());
                return state && state->viewable;
              },
              milliseconds(1000))) {
        return true;
      }
    }
    return false;
  }

  // Starts Docklane (through `launcher` when given: a program that ends by
  // executing its last argument) and connects the pipe's client.
  void StartDocklane(const std::vector<std::string>& env = {},
                     const std::vector<std::string>& launcher = {}) {
    std::vector<std::string> wanted = {"LC_ALL=C.UTF-8"};
    if (display_) wanted.push_back("DISPLAY=" + display_->name());
    wanted.insert(wanted.end(), env.begin(), env.end());
    // A later setting replaces an earlier one of the same name, inherited
    // ones included: the C library would take the first.
    std::vector<std::string> full_env = home_.Environment();
    for (const std::string& entry : wanted) {
      const std::string name = entry.substr(0, entry.find('=') + 1);
      full_env.erase(std::remove_if(full_env.begin(), full_env.end(),
                                    [&](const std::string& e) { return e.rfind(name, 0) == 0; }),
                     full_env.end());
      full_env.push_back(entry);
    }
    std::string program = DOCKLANE_PATH;
    std::vector<std::string> args;
    if (!launcher.empty()) {
      program = launcher.front();
      args.assign(launcher.begin() + 1, launcher.end());
      args.push_back(DOCKLANE_PATH);
    }
    lane_ = std::make_unique<Process>(program, full_env, home_.root() + "/docklane", args);
    ASSERT_TRUE(lane_->started());
    ASSERT_TRUE(WaitUntil(
        [&] { return ::access(home_.pipe_path().c_str(), F_OK) == 0 || !lane_->Running(); },
        milliseconds(15000)));
    ASSERT_TRUE(lane_->Running()) << "Docklane ended at start; stderr: " << lane_->Stderr();
    ASSERT_TRUE(client_.Connect(home_.pipe_path()));
    ASSERT_TRUE(WaitUntil([] { return Listening(kPort); }, milliseconds(5000)));
  }

  void StartAll(bool window_manager = true) {
    StartDisplay(window_manager);
    if (HasFatalFailure() || IsSkipped()) return;
    StartDocklane();
  }

  std::string ExportRoot() const { return home_.runtime_dir() + "/docklane"; }

  // `bytes` as a file named `name`, alone in a folder of its own: the
  // chooser's location field completes names, and a second file whose name
  // begins with this one could be completed into.
  std::string Stage(const std::string& name, const std::string& bytes) {
    const std::string folder = home_.root() + "/pick" + std::to_string(++staged_);
    fs::create_directories(folder);
    const std::string path = folder + "/" + name;
    EXPECT_TRUE(WriteFile(path, bytes)) << path;
    return path;
  }
  std::string StageCopy(const std::string& source, const std::string& name) {
    const std::string bytes = ReadFile(source);
    EXPECT_FALSE(bytes.empty()) << source << " is missing or empty";
    return Stage(name, bytes);
  }

  // Sends `url` and lets `answer` play the user meanwhile. When the user
  // could not be played, Docklane is ended so that the request comes back.
  ImportReply Request(const std::string& url, const std::function<bool(DialogDriver&)>& answer,
                      milliseconds limit = kImportLimit) {
    ImportReply reply;
    const auto start = Clock::now();
    auto pending = std::async(std::launch::async, [url, limit] { return HttpGet(url, limit); });
    reply.answered = answer(*driver_);
    if (!reply.answered) {
      ADD_FAILURE() << "the dialog could not be answered:\n" << driver_->log();
      lane_->Signal(SIGKILL);
    }
    reply.http = pending.get();
    reply.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    reply.parsed = reply.http.ok && ParseJson(reply.http.body, reply.json) && reply.json.isObject();
    return reply;
  }

  static std::string ImportUrl(const std::string& filter, const std::string& title) {
    return WithQuery("/import_file_as_html", {{"file_filter", filter}, {"dialog_title", title}});
  }

  ImportReply Import(const std::string& path, const std::string& filter, const std::string& title = kTitle,
                     milliseconds limit = kImportLimit) {
    const std::string shown = title.empty() ? "Open" : title;
    return Request(
        ImportUrl(filter, title), [&](DialogDriver& driver) { return driver.ChooseFile(shown, path); },
        limit);
  }

  void ExpectExportFolderClean(const std::string& context) {
    for (const char* name : {"import.html", "import.files", "import_pptslides"}) {
      EXPECT_FALSE(Exists(ExportRoot() + "/" + name)) << name << " left behind after " << context;
    }
  }

  // No dialog object outlives a request that is not an edit.
  void ExpectNoWordDialog() {
    Json::Value json;
    EXPECT_TRUE(ParseJson(HttpGet("/check_msword_alive").body, json));
    EXPECT_EQ(json["msword_alive"], Json::Value(false)) << json.toStyledString();
  }

  void ExpectStillServing() {
    const HttpReply version = HttpGet("/get_version_info");
    EXPECT_TRUE(version.ok) << "Docklane no longer answers";
    Json::Value json;
    EXPECT_TRUE(ParseJson(version.body, json)) << version.body;
    EXPECT_TRUE(lane_->Running());
  }

  TestHome home_;
  std::unique_ptr<VirtualDisplay> display_;
  std::unique_ptr<Process> wm_;
  std::unique_ptr<DialogDriver> driver_;
  std::unique_ptr<Process> lane_;
  PipeClient client_;
  int staged_ = 0;
};

#define ASSERT_IMPORT_REPLY(reply)                                                        \
  ASSERT_TRUE((reply).answered);                                                          \
  ASSERT_TRUE((reply).http.ok) << "no reply within the limit";                            \
  ASSERT_EQ((reply).http.status_line, "HTTP/1.1 200 OK");                                 \
  ASSERT_TRUE((reply).parsed) << (reply).http.body.substr(0, 2000)

// Picture entries as the page needs them: named as listed, Base64 of real
// picture bytes. Returns the decoded pictures by name.
inline std::map<std::string, std::string> CheckPictures(const Json::Value& image_files) {
  std::map<std::string, std::string> pictures;
  for (const std::string& name : Keys(image_files)) {
    const Json::Value& entry = image_files[name];
    EXPECT_EQ(entry["filename"].asString(), name);
    const std::optional<std::string> bytes = DecodeBase64(entry["base64"].asString());
    EXPECT_TRUE(bytes && !bytes->empty()) << name << ": no Base64 content";
    const std::string kind = bytes ? PictureKind(*bytes) : "";
    EXPECT_NE(kind, "") << name << " does not decode to a PNG, JPEG or GIF";
    if (!kind.empty()) {
      EXPECT_EQ(entry["mime_type"].asString(), "image/" + kind) << name;
    }
    if (bytes) pictures[name] = *bytes;
  }
  return pictures;
}

}  // namespace e2e
