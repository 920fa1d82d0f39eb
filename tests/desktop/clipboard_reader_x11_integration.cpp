// The clipboard reply from the real X11 clipboard: a private Xvfb, xclip as
// the owner, files on disk, the export folder under a private runtime dir.
#include <gtest/gtest.h>
#include <json/json.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "base/base64.hpp"
#include "desktop/clipboard_reader.hpp"
#include "export/export_paths.hpp"
#include "platform/x11/clipboard.hpp"
#include "tests/platform/clipboard_x11_harness.hpp"

namespace {

using clipboard_test::TempDir;
using clipboard_test::XclipOwner;
using std::chrono::milliseconds;

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  EXPECT_TRUE(Json::parseFromStream(builder, in, &value, &errors)) << errors;
  return value;
}

std::string Utf16LeWithBom(const std::u16string& text) {
  std::string out("\xFF\xFE", 2);
  for (const char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

class ClipboardReplyOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(runtime_.path().empty());
    setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
    setenv("HOME", runtime_.path().c_str(), 1);
    ASSERT_TRUE(InitExportPaths());
    if (xvfb_.display().empty()) GTEST_SKIP() << "Xvfb could not be started";
    options_.display = xvfb_.display();
  }

  Json::Value Read() {
    platform::X11Clipboard clipboard(options_);
    return Parse(ReadClipboardJson(clipboard, ScreenCapturePathUtf8()));
  }

  TempDir runtime_;
  TempDir files_;
  clipboard_test::Xvfb xvfb_;
  platform::X11ClipboardOptions options_;
};

TEST_F(ClipboardReplyOnX11, BitmapOnly) {
  const std::string png = clipboard_test::MakePng(4096);
  XclipOwner owner(options_.display, "image/png", png);
  ASSERT_TRUE(owner.owns());
  const Json::Value reply = Read();
  EXPECT_EQ(reply["screen_capture"].asString(), Base64Encode(png));
  std::ifstream capture(ScreenCapturePathUtf8(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(capture), {}), png);
  EXPECT_EQ(reply["text"].asString(), "");
  EXPECT_EQ(reply["html_clipboard_original"].asString(), "");
  EXPECT_TRUE(reply["image_files"].isNull());
  EXPECT_TRUE(reply["text_files"].isNull());
  EXPECT_TRUE(reply["success"].asBool());
}

TEST_F(ClipboardReplyOnX11, TextOnlyWithKoreanAndAnEmoji) {
  XclipOwner owner(options_.display, "UTF8_STRING", "\xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x8E\x89");  // 한글 🎉
  ASSERT_TRUE(owner.owns());
  const Json::Value reply = Read();
  EXPECT_EQ(reply["text"].asString(), "\xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x8E\x89");
  EXPECT_EQ(reply["text_utf16_length"].asInt(), 5);  // the emoji is a surrogate pair
  EXPECT_EQ(reply["text_utf8_byte_length"].asInt(), 11);
  EXPECT_EQ(reply["screen_capture"].asString(), "");
  EXPECT_EQ(reply["html_body"].asString(), "");
}

TEST_F(ClipboardReplyOnX11, HtmlFromABareFragment) {
  XclipOwner owner(options_.display, "text/html", "<meta charset=\"utf-8\"><b>bold</b> text");
  ASSERT_TRUE(owner.owns());
  const Json::Value reply = Read();
  EXPECT_EQ(reply["html_fragment"].asString(), "<meta charset=\"utf-8\"><b>bold</b> text");
  const std::string body = reply["html_body"].asString();
  EXPECT_EQ(body.rfind("<html>", 0), 0u);
  EXPECT_EQ(body.substr(body.size() - 7), "</html>");
  const std::string original = reply["html_clipboard_original"].asString();
  EXPECT_EQ(original.rfind("Version:", 0), 0u);
  EXPECT_EQ(original.substr(original.size() - body.size()), body);
  EXPECT_EQ(reply["html_clipboard_original_utf8_byte_length"].asInt(), static_cast<int>(original.size()));
}

TEST_F(ClipboardReplyOnX11, HtmlFromAWholeDocumentWithMarkers) {
  const std::string document =
      "<html>\n<body>\n<!--StartFragment--><p>\xEC\x95\x88\xEB\x85\x95</p><!--EndFragment-->\n</body>\n</html>";
  XclipOwner owner(options_.display, "text/html", document);
  ASSERT_TRUE(owner.owns());
  const Json::Value reply = Read();
  EXPECT_EQ(reply["html_body"].asString(), document);
  EXPECT_EQ(reply["html_fragment"].asString(), "<p>\xEC\x95\x88\xEB\x85\x95</p>");
  EXPECT_EQ(reply["html_fragment_utf8_byte_length"].asInt(), 13);
}

TEST_F(ClipboardReplyOnX11, HtmlInUtf16WithAByteOrderMark) {
  XclipOwner owner(options_.display, "text/html", Utf16LeWithBom(u"<i>\uD55C\uAE00 \U0001F389</i>"));
  ASSERT_TRUE(owner.owns());
  const Json::Value reply = Read();
  EXPECT_EQ(reply["html_fragment"].asString(), "<i>\xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x8E\x89</i>");
}

TEST_F(ClipboardReplyOnX11, HtmlReferringToFilesOnDisk) {
  const std::string png = clipboard_test::MakePng(2000);
  const std::string gif = std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13) + std::string(20, '\x7F');
  const std::string png_path = files_.Write("clip_image001.png", png);
  const std::string gif_path = files_.Write("clip_image002.gif", gif);
  const std::string txt_path = files_.Write("clip_filelist.txt", "list of files");
  const std::string html = "<html><body><!--StartFragment--><img src=\"file://" + png_path +
                           "\"><v:imagedata src=\"file://" + gif_path + "\" o:title=\"\"/>" +
                           "<img src=\"file://" + txt_path + "\"><!--EndFragment--></body></html>";
  XclipOwner owner(options_.display, "text/html", html);
  ASSERT_TRUE(owner.owns());
  const Json::Value reply = Read();
  const Json::Value& image = reply["image_files"]["clip_image001.png"];
  EXPECT_EQ(image["base64"].asString(), Base64Encode(png));
  EXPECT_EQ(image["filename"].asString(), png_path);
  EXPECT_EQ(image["full_filename"].asString(), "file://" + png_path);
  EXPECT_EQ(image["tag"].asString(), "img");
  EXPECT_EQ(image["mime_type"].asString(), "image/png");
  const Json::Value& picture = reply["image_files"]["clip_image002.gif"];
  EXPECT_EQ(picture["base64"].asString(), Base64Encode(gif));
  EXPECT_EQ(picture["tag"].asString(), "v:imagedata");
  EXPECT_EQ(picture["mime_type"].asString(), "image/gif");
  const Json::Value& text = reply["text_files"]["clip_filelist.txt"];
  EXPECT_EQ(text["text"].asString(), "list of files");
  EXPECT_EQ(text["mime_type"].asString(), "text/plain");
  EXPECT_EQ(text["filename"].asString(), txt_path);
}

TEST_F(ClipboardReplyOnX11, LargePictureAndLargeHtml) {
  const std::string png = clipboard_test::MakePng(5 * 1024 * 1024);
  {
    XclipOwner owner(options_.display, "image/png", png);
    ASSERT_TRUE(owner.owns());
    EXPECT_EQ(Read()["screen_capture"].asString(), Base64Encode(png));
  }
  std::string fragment;
  for (int i = 0; fragment.size() < 3 * 1024 * 1024; ++i) fragment += "<p>\xEC\x95\x88 " + std::to_string(i) + "</p>";
  XclipOwner owner(options_.display, "text/html", fragment);
  ASSERT_TRUE(owner.owns());
  const Json::Value reply = Read();
  EXPECT_EQ(reply["html_fragment"].asString(), fragment);
  EXPECT_EQ(reply["html_fragment_utf8_byte_length"].asInt(), static_cast<int>(fragment.size()));
}

TEST_F(ClipboardReplyOnX11, ProcessWideClipboardFollowsDisplay) {
  XclipOwner owner(options_.display, "UTF8_STRING", "through the process-wide clipboard");
  ASSERT_TRUE(owner.owns());
  setenv("DISPLAY", options_.display.c_str(), 1);
  EXPECT_EQ(Parse(ReadClipboardJson())["text"].asString(), "through the process-wide clipboard");
  unsetenv("DISPLAY");
  const Json::Value reply = Parse(ReadClipboardJson());
  EXPECT_TRUE(reply["success"].asBool());
  EXPECT_EQ(reply["text"].asString(), "");
}

TEST(ClipboardReplyWithoutDisplay, NoDisplayAtAll) {
  unsetenv("DISPLAY");
  const auto start = std::chrono::steady_clock::now();
  const Json::Value reply = Parse(ReadClipboardJson(platform::Clipboard::Get(), ""));
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000));
  EXPECT_TRUE(reply["success"].asBool());
  EXPECT_EQ(reply["text_utf16_length"].asInt(), 0);
  EXPECT_TRUE(reply["image_files"].isNull());
}

}  // namespace
