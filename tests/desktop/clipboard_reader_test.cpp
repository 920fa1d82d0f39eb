// The clipboard reply: cutting of the HTML, the members and their lengths,
// the capture file, and serialised calls.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "base/base64.hpp"
#include "desktop/clipboard_reader.hpp"

namespace {

// A clipboard that holds what the test puts in it, and notes overlapping
// reads.
class StubClipboard final : public platform::Clipboard {
 public:
  explicit StubClipboard(platform::ClipboardContents contents = {}) : contents_(std::move(contents)) {}
  platform::ClipboardContents Read() override {
    const int now = ++active_;
    int seen = most_active_.load();
    while (now > seen && !most_active_.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    --active_;
    return contents_;
  }
  int most_active() const { return most_active_.load(); }

 private:
  platform::ClipboardContents contents_;
  std::atomic<int> active_{0};
  std::atomic<int> most_active_{0};
};

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  EXPECT_TRUE(Json::parseFromStream(builder, in, &value, &errors)) << errors;
  return value;
}

class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/clipboard-reader-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "picture bytes \x01\x02\xFF";

TEST(ClipboardHtmlCutting, DocumentIsCutAfterItsLastHtmlEnd) {
  const ClipboardHtmlParts parts = CutClipboardHtml(
      "Version:0.9\r\n<html><body><!--StartFragment-->x</html>y<!--EndFragment--></body></html>\r\n\0junk");
  EXPECT_EQ(parts.body, "<html><body><!--StartFragment-->x</html>y<!--EndFragment--></body></html>");
  EXPECT_EQ(parts.original, "Version:0.9\r\n" + parts.body);
  EXPECT_EQ(parts.fragment, "x</html>y");
}

TEST(ClipboardHtmlCutting, WithoutLowerCaseHtmlNothingIsCut) {
  const ClipboardHtmlParts upper = CutClipboardHtml("Version:0.9\r\n<HTML><!--StartFragment-->x</HTML>tail");
  EXPECT_EQ(upper.original, "Version:0.9\r\n<HTML><!--StartFragment-->x</HTML>tail");
  EXPECT_EQ(upper.body, "");
  EXPECT_EQ(upper.fragment, "");
  // At the very start "<html" does not count either.
  const ClipboardHtmlParts at_start = CutClipboardHtml("<html><!--StartFragment-->x</html>tail");
  EXPECT_EQ(at_start.body, "");
  EXPECT_EQ(at_start.original, "<html><!--StartFragment-->x</html>tail");
  EXPECT_EQ(CutClipboardHtml("").original, "");
}

TEST(ClipboardHtmlCutting, DocumentWithoutEndRunsToTheEnd) {
  const ClipboardHtmlParts parts = CutClipboardHtml("V\r\n<html><body>open");
  EXPECT_EQ(parts.body, "<html><body>open");
  EXPECT_EQ(parts.original, "V\r\n<html><body>open");
  // A "</html>" only before the document ends nothing.
  const ClipboardHtmlParts early = CutClipboardHtml("</html>\r\n<html><body>rest");
  EXPECT_EQ(early.body, "<html><body>rest");
  EXPECT_EQ(early.original, "</html>\r\n<html><body>rest");
}

TEST(ClipboardHtmlCutting, FragmentBoundaries) {
  // The first start marker and the last end marker.
  EXPECT_EQ(CutClipboardHtml("V<html><!--StartFragment-->a<!--EndFragment-->b<!--EndFragment--></html>").fragment,
            "a<!--EndFragment-->b");
  EXPECT_EQ(CutClipboardHtml("V<html><!--StartFragment-->a<!--StartFragment-->b<!--EndFragment--></html>").fragment,
            "a<!--StartFragment-->b");
  // No end marker, or only one before the start: to the end of the body.
  EXPECT_EQ(CutClipboardHtml("V<html><!--StartFragment-->a</html>").fragment, "a</html>");
  EXPECT_EQ(CutClipboardHtml("V<html><!--EndFragment--><!--StartFragment-->a</html>").fragment, "a</html>");
  EXPECT_EQ(CutClipboardHtml("V<html>a<!--EndFragment--></html>").fragment, "");
  EXPECT_EQ(CutClipboardHtml("V<html><!--StartFragment--><!--EndFragment--></html>").fragment, "");
}

TEST(ClipboardReply, EmptyClipboardGivesEmptyMembersNullObjectsAndSuccess) {
  StubClipboard clipboard;
  const std::string text = ReadClipboardJson(clipboard, "");
  const Json::Value reply = Parse(text);
  EXPECT_TRUE(reply["success"].asBool());
  EXPECT_EQ(reply["encoding"].asString(), "utf-8");
  for (const char* member : {"html_body", "html_clipboard_original", "html_fragment", "screen_capture", "text"}) {
    ASSERT_TRUE(reply.isMember(member)) << member;
    EXPECT_EQ(reply[member].asString(), "") << member;
  }
  for (const char* member : {"html_body_utf8_byte_length", "html_clipboard_original_utf8_byte_length",
                             "html_fragment_utf8_byte_length", "text_utf16_length", "text_utf8_byte_length"}) {
    ASSERT_TRUE(reply.isMember(member)) << member;
    EXPECT_EQ(reply[member].asInt64(), 0) << member;
  }
  EXPECT_TRUE(reply.isMember("image_files") && reply["image_files"].isNull());
  EXPECT_TRUE(reply.isMember("text_files") && reply["text_files"].isNull());
  EXPECT_EQ(reply.size(), 14u);
  // StyledWriter: members in key order, three blanks of indent.
  EXPECT_EQ(text.rfind("{\n   \"encoding\" : \"utf-8\",\n   \"html_body\" : \"\",", 0), 0u);
}

TEST(ClipboardReply, BitmapOnlyIsSavedAsTheCaptureAndSentInBase64) {
  TempFolder folder;
  const std::string capture = folder.path() + "/pqe_screen_capture.png";
  StubClipboard clipboard({kPng, u"", ""});
  const Json::Value reply = Parse(ReadClipboardJson(clipboard, capture));
  EXPECT_EQ(reply["screen_capture"].asString(), Base64Encode(kPng));
  EXPECT_EQ(ReadFile(capture), kPng);
  EXPECT_EQ(reply["text"].asString(), "");
  EXPECT_EQ(reply["html_body"].asString(), "");
  EXPECT_TRUE(reply["image_files"].isNull());
  EXPECT_TRUE(reply["text_files"].isNull());
}

TEST(ClipboardReply, CaptureThatCannotBeSavedIsStillSentAndNeverAnOlderOne) {
  TempFolder folder;
  const std::string capture = folder.path() + "/pqe_screen_capture.png";
  {
    std::ofstream old(capture, std::ios::binary);
    old << "older capture";
  }
  // The capture path is a link: it is not followed, the file stays as it is.
  const std::string link = folder.path() + "/link.png";
  ASSERT_EQ(symlink(capture.c_str(), link.c_str()), 0);
  StubClipboard with_bitmap({kPng, u"", ""});
  EXPECT_EQ(Parse(ReadClipboardJson(with_bitmap, link))["screen_capture"].asString(), Base64Encode(kPng));
  EXPECT_EQ(ReadFile(capture), "older capture");
  EXPECT_EQ(Parse(ReadClipboardJson(with_bitmap, folder.path() + "/missing/x.png"))["screen_capture"].asString(),
            Base64Encode(kPng));
  // No bitmap: no capture, though an older file exists.
  StubClipboard without_bitmap({"", u"text", ""});
  EXPECT_EQ(Parse(ReadClipboardJson(without_bitmap, capture))["screen_capture"].asString(), "");
}

TEST(ClipboardReply, TextMembersCountUtf16UnitsAndUtf8BytesUpToTheFirstNul) {
  StubClipboard clipboard({"", std::u16string(u"\uC548 \U0001F600\0hidden", 11), ""});
  const Json::Value reply = Parse(ReadClipboardJson(clipboard, ""));
  EXPECT_EQ(reply["text"].asString(), "\xEC\x95\x88 \xF0\x9F\x98\x80");
  EXPECT_EQ(reply["text_utf16_length"].asInt64(), 4);
  EXPECT_EQ(reply["text_utf8_byte_length"].asInt64(), 8);
}

TEST(ClipboardReply, HtmlMembersAndTheirByteLengths) {
  const std::string description =
      "Version:0.9\r\nStartHTML:0000000040\r\n<html><body><!--StartFragment-->\xEC\x95\x88"
      "<!--EndFragment--></body></html>\r\ntrailing";
  StubClipboard clipboard({"", u"", description + std::string("\0after nul", 10)});
  const Json::Value reply = Parse(ReadClipboardJson(clipboard, ""));
  const std::string body = "<html><body><!--StartFragment-->\xEC\x95\x88<!--EndFragment--></body></html>";
  EXPECT_EQ(reply["html_body"].asString(), body);
  EXPECT_EQ(reply["html_body_utf8_byte_length"].asInt64(), static_cast<Json::Int64>(body.size()));
  EXPECT_EQ(reply["html_fragment"].asString(), "\xEC\x95\x88");
  EXPECT_EQ(reply["html_fragment_utf8_byte_length"].asInt64(), 3);
  const std::string original = "Version:0.9\r\nStartHTML:0000000040\r\n" + body;
  EXPECT_EQ(reply["html_clipboard_original"].asString(), original);
  EXPECT_EQ(reply["html_clipboard_original_utf8_byte_length"].asInt64(),
            static_cast<Json::Int64>(original.size()));
}

TEST(ClipboardReply, TextIsExactlyWhatTheStyledWriterWrites) {
  TempFolder folder;
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(5000, '\x93');
  const std::string picture = folder.path() + "/pic.png";
  std::ofstream(picture, std::ios::binary) << png;
  std::ofstream(folder.path() + "/note.txt", std::ios::binary) << "line\n\"quoted\" \x01";
  // Clipboard text shaped like the stand-ins that Base64 texts are written
  // through must stay text.
  const std::string lookalike = "\"base64\" : \"\x01" "0\x01\" \\u00010\\u0001";
  const std::string html = "V\r\n<html><body><!--StartFragment--><img src=\"file://" + picture +
                           "\"><img src=\"file://" + folder.path() + "/note.txt\">" + lookalike +
                           " \xEC\x95\x88<!--EndFragment--></body></html>";
  StubClipboard clipboard({png, u"\x01" u"1\x01", html});
  const std::string text = ReadClipboardJson(clipboard, "");
  const Json::Value reply = Parse(text);
  Json::StyledWriter writer;
  EXPECT_EQ(text, writer.write(reply));
  EXPECT_EQ(reply["screen_capture"].asString(), Base64Encode(png));
  EXPECT_EQ(reply["image_files"]["pic.png"]["base64"].asString(), Base64Encode(png));
  EXPECT_EQ(reply["text_files"]["note.txt"]["text"].asString(), "line\n\"quoted\" \x01");
  EXPECT_EQ(reply["text"].asString(), "\x01" "1\x01");
  EXPECT_NE(reply["html_body"].asString().find(lookalike), std::string::npos);
}

TEST(ClipboardReply, CallsFromSeveralThreadsAreSerialised) {
  TempFolder folder;
  StubClipboard clipboard({kPng, u"text", ""});
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int k = 0; k < 5; ++k) {
        const Json::Value reply = Parse(ReadClipboardJson(clipboard, folder.path() + "/capture.png"));
        if (reply["screen_capture"].asString() == Base64Encode(kPng)) ++good;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(clipboard.most_active(), 1);
  EXPECT_EQ(good.load(), 20);
}

}  // namespace
