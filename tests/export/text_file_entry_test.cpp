#include "export/text_file_entry.hpp"

#include <gtest/gtest.h>

#include "tests/export/export_test_support.hpp"

namespace {

using export_test::ExportFolderTest;
using export_test::ScopedLocale;
using export_test::WriteFile;

// "안녕하세요" in code page 949 and in UTF-8.
const char kKorean949[] = "\xBE\xC8\xB3\xE7\xC7\xCF\xBC\xBC\xBF\xE4";
const char kKoreanUtf8[] =
    "\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94";

TEST_F(ExportFolderTest, KoreanPageIsReadInCodePage949AsATextEntry) {
  WriteFile(ImportHtmlPathUtf8(), std::string("<p>") + kKorean949 + "</p>");
  // StyledWriter escapes non-ASCII text as \u sequences.
  EXPECT_EQ(ReadTextFileEntry("import.html", 949, false),
            "{\n"
            "   \"filename\" : \"import.html\",\n"
            "   \"full_filename\" : \"import.files/import.html\",\n"
            "   \"success\" : true,\n"
            "   \"text\" : \"<p>\\uc548\\ub155\\ud558\\uc138\\uc694</p>\",\n"
            "   \"type\" : \"text\"\n"
            "}\n");
  EXPECT_EQ(ReadTextFileEntry("import.html", 949, true),
            std::string("<p>") + kKoreanUtf8 + "</p>");
  // index.html names the same page.
  EXPECT_EQ(ReadTextFileEntry("index.html", 949, true),
            std::string("<p>") + kKoreanUtf8 + "</p>");
}

TEST_F(ExportFolderTest, CodePageZeroIsTheSystemCodePage) {
  WriteSupportFile("page.htm", "caf\xE9");
  {
    ScopedLocale western("en_US.ISO-8859-1");
    ASSERT_TRUE(western.ok());
    EXPECT_EQ(ReadTextFileEntry("page.htm", 0, true), "caf\xC3\xA9");
  }
  {
    ScopedLocale korean("ko_KR.EUC-KR");
    ASSERT_TRUE(korean.ok());
    WriteSupportFile("k.txt", kKorean949);
    EXPECT_EQ(ReadTextFileEntry("k.txt", 0, true), kKoreanUtf8);
  }
}

TEST_F(ExportFolderTest, Ansi1252CurlyQuotesTripleInUtf8) {
  WriteSupportFile("quotes.txt", std::string(1000, '\x93'));
  const std::string text = ReadTextFileEntry("quotes.txt", 1252, true);
  EXPECT_EQ(text.size(), 3000u);
  EXPECT_EQ(text.substr(2997), "\xE2\x80\x9C");
}

TEST_F(ExportFolderTest, Utf8FileIsReadAsUtf8AndRepairedWhereInvalid) {
  WriteSupportFile("u.css", std::string(kKoreanUtf8) + "\xFF");
  EXPECT_EQ(ReadTextFileEntry("u.css", 65001, true),
            std::string(kKoreanUtf8) + "\xEF\xBF\xBD");
}

TEST_F(ExportFolderTest, MissingFileGivesFailureWithEmptyText) {
  EXPECT_EQ(ReadTextFileEntry("filelist.xml", 0, false),
            "{\n"
            "   \"filename\" : \"filelist.xml\",\n"
            "   \"full_filename\" : \"import.files/filelist.xml\",\n"
            "   \"success\" : false,\n"
            "   \"text\" : \"\",\n"
            "   \"type\" : \"text\"\n"
            "}\n");
  EXPECT_EQ(ReadTextFileEntry("index.html", 0, true), "");
}

TEST_F(ExportFolderTest, EmptyFileIsAnEmptySuccess) {
  WriteSupportFile("empty.txt", "");
  EXPECT_NE(ReadTextFileEntry("empty.txt", 1252, false).find("\"success\" : true"),
            std::string::npos);
}

TEST_F(ExportFolderTest, UnknownCodePageIsAFailureNotAnEmptySuccess) {
  WriteSupportFile("a.txt", "abc");
  const std::string entry = ReadTextFileEntry("a.txt", 4242, false);
  EXPECT_NE(entry.find("\"success\" : false"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\"text\" : \"\""), std::string::npos) << entry;
}

TEST_F(ExportFolderTest, TextEndsAtTheFirstNulByte) {
  WriteSupportFile("nul.txt", std::string("before\0after", 12));
  EXPECT_EQ(ReadTextFileEntry("nul.txt", 1252, true), "before");
}

TEST_F(ExportFolderTest, ByteOrderMarkDecidesTheEncoding) {
  WriteSupportFile("bom8.html", std::string("\xEF\xBB\xBF") + kKoreanUtf8);
  EXPECT_EQ(ReadTextFileEntry("bom8.html", 1252, true), kKoreanUtf8);
  // "A한" in UTF-16 little and big endian.
  WriteSupportFile("le.txt", std::string("\xFF\xFE" "A\0\x5C\xD5", 6));
  EXPECT_EQ(ReadTextFileEntry("le.txt", 949, true), "A\xED\x95\x9C");
  WriteSupportFile("be.txt", std::string("\xFE\xFF\0A\xD5\x5C", 6));
  EXPECT_EQ(ReadTextFileEntry("be.txt", 949, true), "A\xED\x95\x9C");
}

TEST_F(ExportFolderTest, AbsoluteTextNameIsReadFromItsPath) {
  const std::string path = outside_.path() + "/n.txt";
  WriteFile(path, "plain");
  const std::string entry = ReadTextFileEntry(path, 1252, false);
  EXPECT_NE(entry.find("\"text\" : \"plain\""), std::string::npos) << entry;
  EXPECT_NE(entry.find("\"full_filename\" : \"import.files/" + path), std::string::npos);
}

}  // namespace
