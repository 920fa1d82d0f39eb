#include "export/file_collection.hpp"

#include <gtest/gtest.h>
#include <json/json.h>

#include <optional>
#include <stdexcept>

#include "base/base64.hpp"
#include "export/collected_file.hpp"
#include "tests/export/export_test_support.hpp"

namespace {

using export_test::ExportFolderTest;
using export_test::ScopedLocale;
using export_test::WriteFile;

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::Reader reader;
  EXPECT_TRUE(reader.parse(text, value)) << text;
  return value;
}

TEST_F(ExportFolderTest, CollectsPicturesAndTextsByTheirListedNames) {
  const std::string png = outside_.path() + "/p.png";
  const std::string txt = outside_.path() + "/n.txt";
  WriteFile(png, "abc");
  WriteFile(txt, "hello");
  EXPECT_EQ(CollectFilesJson(png + "," + txt),
            "{\n"
            "   \"encoding\" : \"utf-8\",\n"
            "   \"image_files\" : {\n"
            "      \"" + png + "\" : {\n"
            "         \"base64\" : \"YWJj\",\n"
            "         \"filename\" : \"" + png + "\",\n"
            "         \"full_filename\" : \"" + png + "\",\n"
            "         \"mime_type\" : \"image/png\",\n"
            "         \"tag\" : \"img\"\n"
            "      }\n"
            "   },\n"
            "   \"success\" : true,\n"
            "   \"text_files\" : {\n"
            "      \"" + txt + "\" : {\n"
            "         \"filename\" : \"" + txt + "\",\n"
            "         \"full_filename\" : \"" + txt + "\",\n"
            "         \"mime_type\" : \"text/plain\",\n"
            "         \"text\" : \"hello\"\n"
            "      }\n"
            "   }\n"
            "}\n");
}

TEST_F(ExportFolderTest, EmptyListGivesNullObjects) {
  const char expected[] =
      "{\n"
      "   \"encoding\" : \"utf-8\",\n"
      "   \"image_files\" : null,\n"
      "   \"success\" : true,\n"
      "   \"text_files\" : null\n"
      "}\n";
  EXPECT_EQ(CollectFilesJson(""), expected);
  EXPECT_EQ(CollectFilesJson(",,"), expected);
}

TEST_F(ExportFolderTest, MissingAndUnsortedFilesAreSkipped) {
  const std::string there = outside_.path() + "/there.gif";
  const std::string other = outside_.path() + "/data.bin";
  WriteFile(there, "a");
  WriteFile(other, "b");
  const Json::Value reply = Parse(CollectFilesJson(
      outside_.path() + "/missing.png," + there + ",," + other));
  EXPECT_TRUE(reply["success"].asBool());
  ASSERT_TRUE(reply["image_files"].isObject());
  EXPECT_EQ(reply["image_files"].getMemberNames(), std::vector<std::string>{there});
  EXPECT_EQ(reply["image_files"][there]["mime_type"].asString(), "image/gif");
  EXPECT_TRUE(reply["text_files"].isNull());
}

TEST_F(ExportFolderTest, OverlongItemIsSkippedAndItsNeighboursCollected) {
  const std::string before = outside_.path() + "/a.png";
  const std::string after = outside_.path() + "/b.css";
  WriteFile(before, "a");
  WriteFile(after, "b{}");
  // 300 bytes, and not UTF-8 either: skipped before it is decoded.
  const std::string overlong = "/" + std::string(299, '\xE9');
  const Json::Value reply =
      Parse(CollectFilesJson(before + "," + overlong + "," + after));
  EXPECT_EQ(reply["image_files"].size(), 1u);
  EXPECT_TRUE(reply["image_files"].isMember(before));
  EXPECT_EQ(reply["text_files"][after]["text"].asString(), "b{}");
  EXPECT_EQ(reply["text_files"][after]["mime_type"].asString(), "text/css");
}

TEST_F(ExportFolderTest, ItemThatIsNotUtf8RaisesAStandardException) {
  const std::string good = outside_.path() + "/a.png";
  WriteFile(good, "a");
  EXPECT_THROW(CollectFilesJson(good + ",/tmp/caf\xE9.png"), std::range_error);
  EXPECT_THROW(CollectFilesJson("\xC3"), std::exception);
}

TEST_F(ExportFolderTest, TextsAreReadInTheSystemCodePage) {
  ScopedLocale korean("ko_KR.EUC-KR");
  ASSERT_TRUE(korean.ok());
  // A Korean file name (UTF-8 in the list and on disk), Korean 949 content.
  const std::string txt = outside_.path() + "/\xED\x95\x9C.txt";
  WriteFile(txt, "\xC7\xD1\xB1\xDB");
  const Json::Value reply = Parse(CollectFilesJson(txt));
  EXPECT_EQ(reply["text_files"][txt]["text"].asString(), "\xED\x95\x9C\xEA\xB8\x80");
}

TEST_F(ExportFolderTest, RelativeItemMustExistInTheCurrentDirectory) {
  // The existence test looks in the current directory while the content is
  // read from the support folder: a name only in the support folder is
  // skipped.
  WriteSupportFile("only_here.png", "a");
  EXPECT_TRUE(Parse(CollectFilesJson("only_here.png"))["image_files"].isNull());
}

TEST_F(ExportFolderTest, ReplyIsWhatTheStyledWriterWritesForTheEntries) {
  const std::string dir = outside_.path();
  // Names and contents shaped like the stand-ins that pictures' Base64
  // texts are laid out with, Korean names, texts, a missing file, and a
  // picture listed twice.
  const std::string lookalike_png = dir + "/\x01" "0\x01.png";
  const std::string quoted_png = dir + "/\"base64\" : \"\\u00010\\u0001\".png";
  const std::string korean_png = dir + "/\xEA\xB7\xB8\xEB\xA6\xBC.png";
  const std::string korean_txt = dir + "/\xEB\xA9\x94\xEB\xAA\xA8.txt";
  const std::string lookalike_css = dir + "/s.css";
  const std::string empty_jpg = dir + "/empty.jpg";
  WriteFile(lookalike_png, std::string(5000, '\xF7'));
  WriteFile(quoted_png, "\x01" "1\x01");
  WriteFile(korean_png, std::string("\x89PNG\r\n\x1a\n\0", 9) + std::string(300000, 'k'));
  WriteFile(korean_txt, "\"base64\" : \"\x01" "2\x01\" \\u00012\\u0001");
  WriteFile(lookalike_css, "a{content:\"\x01" "0\x01\"}");
  WriteFile(empty_jpg, "");
  const std::string list = lookalike_png + "," + dir + "/missing.gif," + quoted_png + "," +
                           korean_png + "," + korean_txt + ",," + lookalike_css + "," + empty_jpg + "," +
                           lookalike_png;

  Json::Value images;
  Json::Value texts;
  for (const std::string& name :
       {lookalike_png, quoted_png, korean_png, korean_txt, lookalike_css, empty_jpg}) {
    AddCollectedFile(images, texts, name, name, name, std::string("img"), platform::SystemCodePage());
  }
  Json::Value reply(Json::objectValue);
  reply["encoding"] = "utf-8";
  reply["image_files"] = images;
  reply["success"] = true;
  reply["text_files"] = texts;
  Json::StyledWriter writer;
  const std::string collected = CollectFilesJson(list);
  EXPECT_EQ(collected, writer.write(reply));
  // Each picture's own content, in its own place.
  const Json::Value parsed = Parse(collected);
  EXPECT_EQ(parsed["image_files"][korean_png]["base64"].asString(),
            Base64Encode(std::string("\x89PNG\r\n\x1a\n\0", 9) + std::string(300000, 'k')));
  EXPECT_EQ(parsed["image_files"][lookalike_png]["base64"].asString(),
            Base64Encode(std::string(5000, '\xF7')));
  EXPECT_EQ(parsed["image_files"][quoted_png]["base64"].asString(), "ATEB");
  EXPECT_EQ(parsed["image_files"][empty_jpg]["base64"].asString(), "");
  EXPECT_EQ(parsed["image_files"].size(), 4u);
  EXPECT_EQ(parsed["text_files"].size(), 2u);
}

}  // namespace
