// Editing the editor page in the word processor end to end: the real
// Docklane on a private Xvfb with openbox, its visible LibreOffice Writer
// window driven with xdotool as the person at the desktop would, and the
// edited page read back over HTTP.
#include <signal.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/desktop_fixture.hpp"

namespace e2e {
namespace {

const std::string kEditTitle = "import.html - Plumeto1 - Word";
const std::vector<std::string> kEditingTitles = {"import - Plumeto1 - Word", "import.html - Plumeto1 - Word",
                                                 "import - Word", "import.html - Word"};
// A red 4x4 PNG.
const std::string kPicture =
    "iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEklEQVR4nGP4z8CAB+GTG8HSALfKY52fOrPrAAAAAElFTkSuQmCC";
constexpr milliseconds kWindowLimit = seconds(60);

std::string JsonText(const std::string& text) {
  Json::Value value(text);
  Json::FastWriter writer;
  std::string json = writer.write(value);
  if (!json.empty() && json.back() == '\n') json.pop_back();
  return json;
}

std::string PageBody(const std::string& html) { return "{\"html_data\":" + JsonText(html) + "}"; }

const std::string kKoreanPage = "<html><body><p>" + kKoreanBody + "</p><p><img src=\"data:image/png;base64," +
                                kPicture + "\" width=\"40\" height=\"40\"></p></body></html>";

class EditDesktop : public DesktopTest {
 protected:
  // The editing window, once it is on screen with our caption.
  unsigned long EditWindow() {
    const unsigned long window = driver_->WaitForWindow(kEditTitle, kWindowLimit);
    EXPECT_NE(window, 0u) << "no window titled \"" << kEditTitle << "\"";
    return window;
  }

  bool Alive() {
    Json::Value json;
    const HttpReply reply = HttpGet("/check_msword_alive");
    EXPECT_TRUE(ParseJson(reply.body, json)) << reply.body;
    return json["msword_alive"].asBool();
  }

  // Closes the window as the person would, answering the word processor's
  // question about unsaved changes with "Save". A key pressed while the
  // word processor is busy (pasting, saving) can be lost, so the close is
  // asked again while the window stays.
  void CloseBySaving(unsigned long window) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (const unsigned long question = driver_->WaitForWindow("Save Document?", milliseconds(500))) {
        driver_->PressKeys(question, "Return");
      } else {
        driver_->PressKeys(window, "ctrl+w");
        if (const unsigned long asked = driver_->WaitForWindow("Save Document?", milliseconds(5000)))
          driver_->PressKeys(asked, "Return");
      }
      if (driver_->WaitGone(window, seconds(10))) return;
    }
    FAIL() << "the editing window stayed open:\n" << driver_->log();
  }

  std::string ExportFile(const std::string& relative) { return ReadFile(ExportRoot() + "/" + relative); }

  // Waits until the saved page holds `text`.
  bool SavedWith(const std::string& text) {
    return WaitUntil([&] { return ExportFile("import.html").find(text) != std::string::npos; }, seconds(20));
  }

  // Puts `png` on the desktop's clipboard; xclip keeps it there.
  std::unique_ptr<Process> OfferPicture(const std::string& png) {
    const std::string file = home_.root() + "/pasted.png";
    WriteFile(file, png);
    return std::make_unique<Process>("/usr/bin/xclip",
                                     home_.Environment({"DISPLAY=" + display_->name()}),
                                     home_.root() + "/xclip",
                                     std::vector<std::string>{"-selection", "clipboard", "-t", "image/png", "-i", file});
  }
};

TEST_F(EditDesktop, AKoreanPageIsEditedSavedGivenAPictureAndReadBack) {
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  const auto asked = Clock::now();
  const HttpReply opened = HttpPost("/edit_new_html", PageBody(kKoreanPage), seconds(90));
  ASSERT_TRUE(opened.ok);
  Json::Value report;
  ASSERT_TRUE(ParseJson(opened.body, report)) << opened.body;
  EXPECT_TRUE(report["success"].asBool());
  EXPECT_EQ(report["message"].asString(),
            std::to_string(kKoreanPage.size()) + " bytes in CP0 (system: CP65001 ) written into import.html");

  const unsigned long window = EditWindow();
  ASSERT_NE(window, 0u);
  RecordProperty("seconds_to_window", std::to_string(std::chrono::duration<double>(Clock::now() - asked).count()));
  const std::optional<WindowState> state = driver_->Inspect(window);
  ASSERT_TRUE(state);
  EXPECT_NE(std::find(kEditingTitles.begin(), kEditingTitles.end(), state->title), kEditingTitles.end());
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::optional<WindowState> s = driver_->Inspect(window);
        return s && s->topmost && s->focused;
      },
      seconds(5)))
      << "the editing window is not on top with the focus";
  EXPECT_TRUE(Alive());

  ASSERT_TRUE(driver_->TypeInto(window, " typed by the test"));
  ASSERT_TRUE(driver_->PressKeys(window, "ctrl+s"));
  ASSERT_TRUE(SavedWith("typed by the test")) << ExportFile("import.html");
  EXPECT_EQ(window, driver_->WindowsTitled(kEditTitle).front()) << "saving asked a question or retitled the window";

  const std::optional<std::string> red = DecodeBase64(kPicture);
  ASSERT_TRUE(red);
  const auto clipboard = OfferPicture(*red);
  ASSERT_TRUE(driver_->PressKeys(window, "ctrl+v"));
  std::this_thread::sleep_for(milliseconds(500));
  CloseBySaving(window);
  if (HasFatalFailure()) return;

  EXPECT_FALSE(Alive());
  EXPECT_FALSE(Alive()) << "the second look must not find a dialog either";
  Json::Value exported;
  ASSERT_TRUE(ParseJson(HttpGet("/export_as_html").body, exported));
  EXPECT_TRUE(exported["success"].asBool());
  EXPECT_NE(VisibleText(exported["html_data"].asString()).find("typed by the test"), std::string::npos);
  EXPECT_NE(VisibleText(exported["html_data"].asString()).find(kKoreanBody), std::string::npos);
  // The page's own picture and the pasted one, both laid out as Word does.
  std::vector<std::string> pictures;
  for (const std::string& name : Names(exported["filelist"])) {
    if (PictureKind(ExportFile("import.files/" + name)) == "png") pictures.push_back(name);
  }
  EXPECT_EQ(pictures.size(), 2u) << exported["filelist"].toStyledString();
  EXPECT_TRUE(Exists(ExportRoot() + "/import.files/filelist.xml"));
}

TEST_F(EditDesktop, ThePurgingExportIsAnsweredOnlyOnceTheWindowHasClosed) {
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  auto pending = std::async(std::launch::async, [] {
    return HttpPost("/edit_export_purge_html", PageBody(kKoreanPage), seconds(120));
  });
  const unsigned long window = EditWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(driver_->TypeInto(window, " kept"));
  ASSERT_TRUE(driver_->PressKeys(window, "ctrl+s"));
  ASSERT_TRUE(SavedWith("kept"));
  EXPECT_EQ(pending.wait_for(seconds(2)), std::future_status::timeout) << "answered while the window was open";
  CloseBySaving(window);
  if (HasFatalFailure()) return;

  ASSERT_EQ(pending.wait_for(seconds(30)), std::future_status::ready);
  const HttpReply reply = pending.get();
  Json::Value json;
  ASSERT_TRUE(ParseJson(reply.body, json)) << reply.body;
  EXPECT_TRUE(json["success"].asBool());
  EXPECT_NE(VisibleText(json["html_data"].asString()).find("kept"), std::string::npos);
  const std::map<std::string, std::string> pictures = CheckPictures(json["image_files"]);
  ASSERT_EQ(pictures.size(), 1u) << json["image_files"].toStyledString();
  EXPECT_EQ(PictureKind(pictures.begin()->second), "png");
  EXPECT_EQ(json["image_files"][pictures.begin()->first]["tag"].asString(), "img");
  EXPECT_EQ(json["purge_result"].asString(), kPurged);
  for (const char* name : {"import.html", "import.files"}) EXPECT_FALSE(Exists(ExportRoot() + "/" + name)) << name;
}

TEST_F(EditDesktop, CloseMswordWindowSavesAndEndsTheWindowAndIsAtOnceWithoutOne) {
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  ASSERT_TRUE(HttpPost("/edit_new_html", PageBody("<p>start</p>"), seconds(90)).ok);
  const unsigned long window = EditWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(driver_->TypeInto(window, " unsaved words"));

  Json::Value closed;
  ASSERT_TRUE(ParseJson(HttpGet("/close_msword_window", seconds(60)).body, closed));
  EXPECT_EQ(closed["message"].asString(), "Office Word Application closed");
  EXPECT_TRUE(driver_->WaitGone(window, seconds(10)));
  EXPECT_NE(ExportFile("import.html").find("unsaved words"), std::string::npos) << "closing did not save";
  EXPECT_FALSE(Alive());

  const auto start = Clock::now();
  ASSERT_TRUE(ParseJson(HttpGet("/close_msword_window").body, closed));
  EXPECT_LT(Clock::now() - start, milliseconds(500)) << "waited without a window to close";
  EXPECT_TRUE(closed["success"].asBool());
}

TEST_F(EditDesktop, TwoEditsInARowEachOpenAWindow) {
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  for (const char* text : {"<p>first</p>", "<p>second</p>"}) {
    Json::Value report;
    ASSERT_TRUE(ParseJson(HttpPost("/edit_new_html", PageBody(text), seconds(90)).body, report));
    EXPECT_TRUE(report["success"].asBool()) << text;
  }
  EXPECT_TRUE(WaitUntil([&] { return driver_->WindowsTitled(kEditTitle).size() == 2; }, seconds(30)))
      << driver_->WindowsTitled(kEditTitle).size() << " editing windows";
  EXPECT_TRUE(Alive());
}

TEST_F(EditDesktop, AKilledEditingOfficeCountsAsClosedAndTheNextEditWorks) {
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  ASSERT_TRUE(HttpPost("/edit_new_html", PageBody("<p>doomed</p>"), seconds(90)).ok);
  const unsigned long window = EditWindow();
  ASSERT_NE(window, 0u);
  const long office = driver_->OwnerPid(window);
  ASSERT_GT(office, 0) << "the window names no process";

  auto waiting = std::async(std::launch::async, [] { return HttpGet("/export_as_html", seconds(60)); });
  EXPECT_EQ(waiting.wait_for(seconds(2)), std::future_status::timeout);
  ::kill(static_cast<pid_t>(office), SIGKILL);
  ASSERT_EQ(waiting.wait_for(seconds(20)), std::future_status::ready) << "the export still waits";
  EXPECT_TRUE(waiting.get().ok);
  ExpectStillServing();

  ASSERT_TRUE(HttpPost("/edit_new_html", PageBody("<p>again</p>"), seconds(90)).ok);
  EXPECT_NE(EditWindow(), 0u) << "no window after the office was killed";
}

}  // namespace
}  // namespace e2e
