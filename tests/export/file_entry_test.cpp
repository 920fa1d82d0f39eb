#include "export/file_entry.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "base/base64.hpp"
#include "base/extension.hpp"
#include "base/utf.hpp"
#include "export/collected_file.hpp"
#include "tests/export/export_test_support.hpp"

namespace {

using export_test::ExportFolderTest;
using export_test::WriteFile;

// --- Base64 download entries ---------------------------------------------------

TEST_F(ExportFolderTest, EntryOfASupportFileIsWrittenByStyledWriter) {
  WriteSupportFile("image001.png", "abc");
  EXPECT_EQ(EncodeFileEntry("image001.png", false),
            "{\n"
            "   \"base64\" : \"YWJj\",\n"
            "   \"filename\" : \"image001.png\",\n"
            "   \"full_filename\" : \"import.files/image001.png\",\n"
            "   \"success\" : true,\n"
            "   \"type\" : \"base64\"\n"
            "}\n");
  EXPECT_EQ(EncodeFileEntry("image001.png", true), "YWJj");
}

TEST_F(ExportFolderTest, MissingFileGivesFailureWithNamesFilled) {
  EXPECT_EQ(EncodeFileEntry("none.png", false),
            "{\n"
            "   \"base64\" : \"\",\n"
            "   \"filename\" : \"none.png\",\n"
            "   \"full_filename\" : \"import.files/none.png\",\n"
            "   \"success\" : false,\n"
            "   \"type\" : \"base64\"\n"
            "}\n");
  EXPECT_EQ(EncodeFileEntry("none.png", true), "");
  // The empty name names the support folder itself: not a file.
  EXPECT_NE(EncodeFileEntry("", false).find("\"success\" : false"), std::string::npos);
}

TEST_F(ExportFolderTest, EmptyFileIsReadableWithEmptyBase64) {
  WriteSupportFile("empty.gif", "");
  const std::string entry = EncodeFileEntry("empty.gif", false);
  EXPECT_NE(entry.find("\"base64\" : \"\""), std::string::npos) << entry;
  EXPECT_NE(entry.find("\"success\" : true"), std::string::npos) << entry;
}

TEST_F(ExportFolderTest, AbsoluteNameIsReadAsItIsButReportedWithThePrefix) {
  const std::string path = outside_.path() + "/pic.png";
  WriteFile(path, "ab");
  const std::string entry = EncodeFileEntry(path, false);
  EXPECT_NE(entry.find("\"base64\" : \"YWI=\""), std::string::npos) << entry;
  EXPECT_NE(entry.find("\"full_filename\" : \"import.files/" + path + "\""),
            std::string::npos)
      << entry;
}

TEST_F(ExportFolderTest, WholeFileIsEncodedAcrossReadChunks) {
  // Larger than one read chunk and not a multiple of three.
  std::string bytes(3 * 128 * 1024 * 2 + 7, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 7);
  WriteSupportFile("big.bmp", bytes);
  EXPECT_EQ(EncodeFileEntry("big.bmp", true), Base64Encode(bytes));
  EXPECT_EQ(EncodeFileBase64W(Utf8ToWide(Support() + "/big.bmp")), Base64Encode(bytes));
}

TEST_F(ExportFolderTest, OnlyRegularFilesAreRead) {
  mkdir(Support().c_str(), 0700);
  ASSERT_EQ(mkdir((Support() + "/folder.png").c_str(), 0700), 0);
  EXPECT_NE(EncodeFileEntry("folder.png", false).find("\"success\" : false"),
            std::string::npos);
  EXPECT_EQ(EncodeFileEntry("/dev/zero", true), "");

  // A FIFO without a writer must not hold up the request thread.
  const std::string fifo = Support() + "/pipe.png";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto result = std::async(std::launch::async,
                           [] { return EncodeFileEntry("pipe.png", false); });
  if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    const int unblock = open(fifo.c_str(), O_WRONLY);  // releases the reader
    if (unblock >= 0) close(unblock);
    FAIL() << "reading a FIFO blocked";
  }
  EXPECT_NE(result.get().find("\"success\" : false"), std::string::npos);
}

TEST_F(ExportFolderTest, OverlongResolvedPathIsUnreadable) {
  const std::string name(kMaxExportPathBytes - Support().size(), 'n');  // one too many
  EXPECT_NE(EncodeFileEntry(name, false).find("\"success\" : false"), std::string::npos);
}

TEST_F(ExportFolderTest, WidePathEncodingOfTheCaptureFile) {
  WriteFile(ScreenCapturePathUtf8(), "\x89PNG");
  EXPECT_EQ(EncodeFileBase64W(ScreenCapturePath()), "iVBORw==");
  EXPECT_EQ(EncodeFileBase64W(ExportRoot() + u"/missing.png"), "");
  EXPECT_EQ(EncodeFileBase64W(ScreenCapturePath() + u'\0' + u"x"), "");
}

// --- Extension test ----------------------------------------------------------------

TEST(MatchesExtension, DotMatchesAnyCharacterAndCaseIsIgnored) {
  EXPECT_TRUE(MatchesExtension("PHOTO.JPG", ".jpg"));
  EXPECT_TRUE(MatchesExtension("a.Png", ".png"));
  EXPECT_TRUE(MatchesExtension("shotxpng", ".png"));
  EXPECT_FALSE(MatchesExtension("png", ".png"));
  EXPECT_FALSE(MatchesExtension("a.png.bak", ".png"));
  EXPECT_FALSE(MatchesExtension("a.jpg", ".jpeg"));
  EXPECT_FALSE(MatchesExtension("a\npng", ".png"));
  EXPECT_FALSE(MatchesExtension("", ".png"));
}

// --- Collected files -----------------------------------------------------------------

TEST(CollectedMimeTypes, ExtensionDecidesClassAndType) {
  EXPECT_STREQ(CollectedImageMimeType("PHOTO.JPG"), "image/jpeg");
  EXPECT_STREQ(CollectedImageMimeType("shotxpng"), "image/png");
  EXPECT_EQ(CollectedImageMimeType("clip_filelist.xml"), nullptr);
  EXPECT_STREQ(CollectedTextMimeType("clip_filelist.xml"), "text/xml");
  EXPECT_STREQ(CollectedTextMimeType("page.HTM"), "text/html");
  EXPECT_EQ(CollectedImageMimeType("data.bin"), nullptr);
  EXPECT_EQ(CollectedTextMimeType("data.bin"), nullptr);
}

TEST_F(ExportFolderTest, PictureBecomesImageEntryUnderTheKey) {
  WriteSupportFile("PHOTO.JPG", "abc");
  Json::Value images, texts;
  AddCollectedFile(images, texts, "key", "PHOTO.JPG", "import.files/PHOTO.JPG",
                   std::string("v:imagedata"), 0);
  ASSERT_TRUE(images.isObject());
  EXPECT_TRUE(texts.isNull());
  const Json::Value& entry = images["key"];
  EXPECT_EQ(entry["base64"].asString(), "YWJj");
  EXPECT_EQ(entry["filename"].asString(), "PHOTO.JPG");
  EXPECT_EQ(entry["full_filename"].asString(), "import.files/PHOTO.JPG");
  EXPECT_EQ(entry["mime_type"].asString(), "image/jpeg");
  EXPECT_EQ(entry["tag"].asString(), "v:imagedata");
  EXPECT_EQ(entry.size(), 5u);
}

TEST_F(ExportFolderTest, UnreadablePictureIsStillAddedAndSameKeyReplaces) {
  Json::Value images, texts;
  AddCollectedFile(images, texts, "k", "gone.png", "gone.png", std::nullopt, 0);
  EXPECT_EQ(images["k"]["base64"].asString(), "");
  EXPECT_FALSE(images["k"].isMember("tag"));
  WriteSupportFile("there.gif", "a");
  AddCollectedFile(images, texts, "k", "there.gif", "there.gif", std::nullopt, 0);
  EXPECT_EQ(images.size(), 1u);
  EXPECT_EQ(images["k"]["base64"].asString(), "YQ==");
  EXPECT_EQ(images["k"]["mime_type"].asString(), "image/gif");
}

TEST_F(ExportFolderTest, TextBecomesTextEntryInTheCallersCodePage) {
  WriteSupportFile("clip_filelist.xml", "\xC7\xD1\xB1\xDB");  // "한글" in 949
  Json::Value images, texts;
  AddCollectedFile(images, texts, "clip_filelist.xml", "clip_filelist.xml",
                   "import.files/clip_filelist.xml", std::string("img"), 949);
  EXPECT_TRUE(images.isNull());
  const Json::Value& entry = texts["clip_filelist.xml"];
  EXPECT_EQ(entry["text"].asString(), "\xED\x95\x9C\xEA\xB8\x80");
  EXPECT_EQ(entry["mime_type"].asString(), "text/xml");
  EXPECT_EQ(entry["full_filename"].asString(), "import.files/clip_filelist.xml");
  EXPECT_FALSE(entry.isMember("tag"));
  EXPECT_EQ(entry.size(), 4u);
}

TEST_F(ExportFolderTest, OtherFilesAddNothing) {
  WriteSupportFile("data.bin", "x");
  Json::Value images, texts;
  AddCollectedFile(images, texts, "data.bin", "data.bin", "data.bin", std::string("img"), 0);
  EXPECT_TRUE(images.isNull());
  EXPECT_TRUE(texts.isNull());
}

}  // namespace
