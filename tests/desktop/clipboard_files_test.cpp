// The scan of the clipboard HTML for local pictures and text files.
#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "base/base64.hpp"
#include "desktop/clipboard_reader.hpp"

namespace {

class FilesOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/clipboard-files-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // The file's path without its leading '/', as it follows "file:///".
  std::string Write(const std::string& name, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(dir_ + "/" + name).parent_path());
    std::ofstream(dir_ + "/" + name, std::ios::binary) << data;
    return (dir_ + "/" + name).substr(1);
  }
  void Collect(const std::string& html) { CollectClipboardFiles(html, images_, texts_); }

  std::string dir_;
  Json::Value images_;
  Json::Value texts_;
};

TEST_F(FilesOnDisk, WindowsPathsKeepTheirNamesAndTypes) {
  Collect("<p><img width=10 src=\"file:///C:/x/clip_image001.png\"></p>"
          "<v:shape><v:imagedata src=\"file:///C:/x/clip_image002.gif\" o:title=\"\"/></v:shape>");
  ASSERT_TRUE(images_.isMember("clip_image001.png"));
  const Json::Value& png = images_["clip_image001.png"];
  EXPECT_EQ(png["filename"].asString(), "C:/x/clip_image001.png");
  EXPECT_EQ(png["full_filename"].asString(), "file:///C:/x/clip_image001.png");
  EXPECT_EQ(png["tag"].asString(), "img");
  EXPECT_EQ(png["mime_type"].asString(), "image/png");
  EXPECT_EQ(png["base64"].asString(), "");  // not on this disk, still listed
  const Json::Value& gif = images_["clip_image002.gif"];
  EXPECT_EQ(gif["tag"].asString(), "v:imagedata");
  EXPECT_EQ(gif["mime_type"].asString(), "image/gif");
  EXPECT_EQ(images_.size(), 2u);
  EXPECT_TRUE(texts_.isNull());
  // A backslash separates the base name as well.
  Collect("<img src=\"file:///C:\\dir\\pic.JPG\">");
  EXPECT_EQ(images_["pic.JPG"]["mime_type"].asString(), "image/jpeg");
}

TEST_F(FilesOnDisk, AbsolutePathsAreReadFromDisk) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "data";
  const std::string png_path = Write("a.png", png);
  const std::string txt_path = Write("notes.txt", "plain text");
  const std::string css_path = Write("style.css", "p{}");
  Collect("<img src=\"file:///" + png_path + "\"><IMG SRC=x src=\"file:///" + txt_path +
          "\"><img src=\"file:///" + css_path + "\">");
  const Json::Value& image = images_["a.png"];
  EXPECT_EQ(image["filename"].asString(), "/" + png_path);
  EXPECT_EQ(image["full_filename"].asString(), "file:///" + png_path);
  EXPECT_EQ(image["base64"].asString(), Base64Encode(png));
  EXPECT_EQ(texts_["notes.txt"]["text"].asString(), "plain text");
  EXPECT_EQ(texts_["notes.txt"]["mime_type"].asString(), "text/plain");
  EXPECT_EQ(texts_["style.css"]["text"].asString(), "p{}");
  EXPECT_EQ(texts_["style.css"]["mime_type"].asString(), "text/css");
  EXPECT_FALSE(texts_["notes.txt"].isMember("tag"));
}

TEST_F(FilesOnDisk, OtherFilesAndOtherTagsAddNothing) {
  Collect("<link rel=stylesheet src=\"file:///tmp/s.css\">"
          "<Img src=\"file:///tmp/mixed-case.png\">"
          "<img src=\"file:///tmp/data.bin\">"
          "<script src=\"file:///tmp/x.png\"></script>");
  EXPECT_TRUE(images_.isNull());
  EXPECT_TRUE(texts_.isNull());
}

TEST_F(FilesOnDisk, TagIsLookedForAtMost99CharactersBack) {
  const std::string near = "<img" + std::string(95, ' ') + "src=\"file:///C:/near.png\">";
  const std::string far = "<img" + std::string(96, ' ') + "src=\"file:///C:/far.png\">";
  Collect(near + far);
  EXPECT_TRUE(images_.isMember("near.png"));
  EXPECT_FALSE(images_.isMember("far.png"));
  // The nearest "<" decides, even when an img tag lies further back.
  images_ = Json::Value();
  Collect("<img alt=\"<b>\" src=\"file:///C:/inner.png\">");
  EXPECT_TRUE(images_.isNull());
}

TEST_F(FilesOnDisk, EveryFileOfTheSameBaseNameComesBackAndTheFirstKeepsTheName) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8);
  const std::string a = Write("a/image.png", png + "a");
  const std::string b = Write("b/image.png", png + "b");
  const std::string c = Write("c/image.png", png + "c");
  Collect("<img src=\"file:///" + a + "\"><img src=\"file:///" + b + "\"><p><IMG src=\"file:///" + c +
          "\"><img src=\"file:///" + b + "\">");
  ASSERT_EQ(images_.size(), 3u) << images_.toStyledString();
  const struct {
    std::string key, path, content;
  } expected[] = {{"image.png", a, "a"}, {"file:///" + b, b, "b"}, {"file:///" + c, c, "c"}};
  for (const auto& e : expected) {
    ASSERT_TRUE(images_.isMember(e.key)) << e.key;
    const Json::Value& entry = images_[e.key];
    EXPECT_EQ(entry["filename"].asString(), "/" + e.path);
    EXPECT_EQ(entry["full_filename"].asString(), "file:///" + e.path);
    EXPECT_EQ(entry["base64"].asString(), Base64Encode(png + e.content)) << e.key;
  }
}

TEST_F(FilesOnDisk, KeysOfTheSameBaseNameNeverCollide) {
  struct Case {
    const char* label;
    std::vector<std::string> paths;  // as written after file:///
    std::vector<std::string> keys;   // of the entries, in the order of the paths
  };
  const Case cases[] = {
      {"texts too", {"tmp/one/same.txt", "tmp/two/same.txt"}, {"same.txt", "file:///tmp/two/same.txt"}},
      {"the same file twice is one entry", {"tmp/x/p.png", "tmp/x/p.png"}, {"p.png", "p.png"}},
      {"windows separators", {"C:\\a\\p.png", "C:/b/p.png"}, {"p.png", "file:///C:/b/p.png"}},
      // A base name made to look like the URL key that a later file needs.
      {"made-up base name",
       {"q.png", "z/q.png", "x\\file:///z/q.png", "y\\file:///z/q.png"},
       {"q.png", "file:///z/q.png", "file:///x\\file:///z/q.png", "file:///y\\file:///z/q.png"}},
      {"a URL key taken by a base name first",
       {"m\\file:///n/r.png", "r.png", "n/r.png"},
       {"file:///n/r.png", "r.png", "file:///n/r.png#2"}},
  };
  for (const Case& c : cases) {
    images_ = Json::Value();
    texts_ = Json::Value();
    std::string html;
    for (const std::string& path : c.paths) html += "<img src=\"file:///" + path + "\">";
    Collect(html);
    std::set<std::string> distinct(c.keys.begin(), c.keys.end());
    EXPECT_EQ(images_.size() + texts_.size(), distinct.size()) << c.label;
    for (std::size_t i = 0; i < c.paths.size(); ++i) {
      const Json::Value& files = images_.isMember(c.keys[i]) ? images_ : texts_;
      ASSERT_TRUE(files.isMember(c.keys[i])) << c.label << ": no entry " << c.keys[i];
      EXPECT_EQ(files[c.keys[i]]["full_filename"].asString(), "file:///" + c.paths[i]) << c.label;
    }
  }
}

TEST_F(FilesOnDisk, SourceWithoutClosingQuoteEndsTheScan) {
  Collect("<img src=\"file:///C:/a.png\"><img src=\"file:///C:/b.png>");
  EXPECT_EQ(images_.size(), 1u);
  EXPECT_TRUE(images_.isMember("a.png"));
  // A path runs to the next quote wherever it is: here into the next tag,
  // which leaves a name without a known extension.
  images_ = Json::Value();
  Collect("<img src=\"file:///C:/b.png><img src=\"file:///C:/c.png\">");
  EXPECT_TRUE(images_.isNull());
}

TEST_F(FilesOnDisk, SkippedSourceDoesNotHideAPictureRightAfterIt) {
  Collect("<a src=\"file:///C:/x.png\"><img src=\"file:///C:/y.png\">");
  EXPECT_FALSE(images_.isMember("x.png"));
  EXPECT_TRUE(images_.isMember("y.png"));
}

TEST_F(FilesOnDisk, VeryLongPathsOverrunNothing) {
  const std::string long_name(300, 'n');
  Collect("<img src=\"file:///tmp/" + long_name + ".png\"><img src=\"file:///tmp/" + std::string(252, 'm') +
          "\">");
  ASSERT_TRUE(images_.isMember(long_name + ".png"));
  EXPECT_EQ(images_[long_name + ".png"]["base64"].asString(), "");
  EXPECT_EQ(images_[long_name + ".png"]["full_filename"].asString(), "file:///tmp/" + long_name + ".png");
}

TEST_F(FilesOnDisk, LargeHtmlWithSkippedSourcesIsScannedInLinearTime) {
  // Sources that belong to no picture, far apart: stepping from the scan
  // position 20 characters at a time would take minutes.
  std::string html;
  while (html.size() < 2 * 1024 * 1024) html += std::string(100000, 'x') + "<a src=\"file:///C:/no.png\">";
  html += "<img src=\"file:///C:/last.png\">";
  const auto start = std::chrono::steady_clock::now();
  Collect(html);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(images_.isMember("last.png"));
  EXPECT_EQ(images_.size(), 1u);
}

}  // namespace
