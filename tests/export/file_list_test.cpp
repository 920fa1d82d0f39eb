#include "export/file_list.hpp"

#include <gtest/gtest.h>

#include "tests/export/export_test_support.hpp"

namespace {

using export_test::ExportFolderTest;
using export_test::ScopedLocale;
using Names = std::vector<std::string>;

TEST(ScanFileList, YieldsNamesInFileOrderAndIgnoresTrailingText) {
  const std::string text =
      "<xml xmlns:o=\"urn:schemas-microsoft-com:office:office\">\r\n"
      " <o:MainFile HRef=\"../import.html\"/>\r\n"
      " <o:File HRef=\"image001.png\"/>\r\n"
      " <o:File HRef=\"filelist.xml\"/>\r\n"
      "</xml>\r\n <o:File HRef=\"unterminated.png";
  EXPECT_EQ(ScanFileList(text), (Names{"image001.png", "filelist.xml"}));
}

TEST(ScanFileList, EmptyOrEntrylessTextYieldsNothing) {
  EXPECT_TRUE(ScanFileList("").empty());
  EXPECT_TRUE(ScanFileList("<o:File HRef=").empty());
  EXPECT_TRUE(ScanFileList("<o:file href=\"lower.png\"/>").empty());
}

TEST(ScanFileList, OverlongNameIsSkippedAndTheScanGoesOn) {
  const std::string at_limit(259, 'a');
  const std::string over(260, 'b');
  const std::string text = "<o:File HRef=\"" + over + "\"/><o:File HRef=\"" +
                           at_limit + "\"/><o:File HRef=\"next.css\"/>";
  EXPECT_EQ(ScanFileList(text), (Names{at_limit, "next.css"}));
}

TEST(ScanFileList, ScanResumesAfterTheClosingMark) {
  // The opening text inside a name is part of the name; the scan does not
  // restart within it.
  EXPECT_EQ(ScanFileList("<o:File HRef=\"a<o:File HRef=\"b\"/>c\"/>"),
            (Names{"a<o:File HRef=\"b"}));
}

TEST_F(ExportFolderTest, FileListIsReadInTheSystemCodePage) {
  ScopedLocale korean("ko_KR.EUC-KR");
  ASSERT_TRUE(korean.ok());
  // "그림1.png" in code page 949, then a NUL that ends the text.
  static const char kList[] =
      "<o:File HRef=\"\xB1\xD7\xB8\xB2" "1.png\"/>\0<o:File HRef=\"hidden.png\"/>";
  WriteSupportFile("filelist.xml", std::string(kList, sizeof kList - 1));
  const auto text = ReadFileListText(FileListPathUtf8());
  ASSERT_TRUE(text);
  EXPECT_EQ(ScanFileList(*text), (Names{"\xEA\xB7\xB8\xEB\xA6\xBC" "1.png"}));
}

TEST_F(ExportFolderTest, MissingFileListCannotBeRead) {
  EXPECT_FALSE(ReadFileListText(FileListPathUtf8()));
}

}  // namespace
