#include "export/purge.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "base/utf.hpp"
#include "tests/export/export_test_support.hpp"

namespace {

using export_test::ExportFolderTest;
using export_test::MakeDir;
using export_test::PathExists;
using export_test::ReadFile;
using export_test::WriteFile;

const char kPurgedReport[] =
    "{\n"
    "   \"message\" : \"all exported files were deleted!\",\n"
    "   \"success\" : true\n"
    "}\n";

class PurgeTest : public ExportFolderTest {
 protected:
  // The page with its support folder, a subfolder with files inside.
  void WriteWordExport() {
    WriteFile(ImportHtmlPathUtf8(), "<html></html>");
    WriteSupportFile("image001.png", "png");
    WriteSupportFile("filelist.xml", "<o:File HRef=\"image001.png\"/>");
    MakeDir(Support() + "/themes");
    WriteFile(Support() + "/themes/theme.css", "x");
    MakeDir(Support() + "/themes/deeper");
    WriteFile(Support() + "/themes/deeper/data.xml", "y");
  }

  std::string Slides() const { return WideToUtf8(SlidesFolderPath()); }
};

TEST_F(PurgeTest, WordPurgeRemovesPageAndWholeSupportTree) {
  WriteWordExport();
  WriteFile(ScreenCapturePathUtf8(), "capture");
  EXPECT_EQ(PurgeWordExport(false), kPurgedReport);
  EXPECT_FALSE(PathExists(ImportHtmlPathUtf8()));
  EXPECT_FALSE(PathExists(Support()));
  // The root and what does not belong to the export stay.
  EXPECT_TRUE(PathExists(Root()));
  EXPECT_TRUE(PathExists(ScreenCapturePathUtf8()));
}

TEST_F(PurgeTest, PurgingTwiceSucceedsBothTimes) {
  WriteWordExport();
  EXPECT_EQ(PurgeWordExport(true), "all exported files were deleted!");
  EXPECT_EQ(PurgeWordExport(true), "all exported files were deleted!");
  EXPECT_EQ(PurgeSlidesExport(false), kPurgedReport);
  EXPECT_EQ(PurgeSlidesExport(false), kPurgedReport);
}

TEST_F(PurgeTest, SymlinksInsideAreRemovedButTheirTargetsSurvive) {
  WriteWordExport();
  const std::string precious = outside_.path() + "/precious.txt";
  const std::string precious_dir = outside_.path() + "/folder";
  WriteFile(precious, "keep me");
  MakeDir(precious_dir);
  WriteFile(precious_dir + "/inner.png", "keep me too");
  ASSERT_EQ(symlink(precious.c_str(), (Support() + "/link.txt").c_str()), 0);
  ASSERT_EQ(symlink(precious_dir.c_str(), (Support() + "/themes/linkdir").c_str()), 0);

  EXPECT_EQ(PurgeWordExport(false), kPurgedReport);
  EXPECT_FALSE(PathExists(Support()));
  EXPECT_EQ(ReadFile(precious), "keep me");
  EXPECT_EQ(ReadFile(precious_dir + "/inner.png"), "keep me too");
}

TEST_F(PurgeTest, SupportFolderThatIsASymlinkIsUnlinkedNotEmptied) {
  const std::string precious_dir = outside_.path() + "/folder";
  MakeDir(precious_dir);
  WriteFile(precious_dir + "/filelist.xml", "keep");
  ASSERT_EQ(symlink(precious_dir.c_str(), Support().c_str()), 0);
  EXPECT_FALSE(DeleteFolderTree(SupportFolderPath(), SupportFolderPath()));
  EXPECT_EQ(PurgeWordExport(true), "all exported files were deleted!");
  EXPECT_FALSE(PathExists(Support()));
  EXPECT_EQ(ReadFile(precious_dir + "/filelist.xml"), "keep");
}

TEST_F(PurgeTest, PageThatCannotBeDeletedGivesTheWordSentence) {
  WriteWordExport();
  // A non-empty folder where the page should be: unlink() cannot remove it.
  ASSERT_EQ(unlink(ImportHtmlPathUtf8().c_str()), 0);
  MakeDir(ImportHtmlPathUtf8());
  WriteFile(ImportHtmlPathUtf8() + "/held", "");
  EXPECT_EQ(PurgeWordExport(false),
            "{\n"
            "   \"message\" : \"Delete Failure: some exported files were NOT deleted! "
            "Maybe still opened by WINWORD.exe application\",\n"
            "   \"success\" : false\n"
            "}\n");
  // The rest was purged all the same.
  EXPECT_FALSE(PathExists(Support()));
}

TEST_F(PurgeTest, SlidesPurgeRemovesPicturesFolderAndPage) {
  WriteFile(ImportHtmlPathUtf8(), "page");
  MakeDir(Slides());
  for (int n = 1; n <= 3; ++n) {
    WriteFile(WideToUtf8(FormatSlidePath(SlidePatternEn(), n)), "jpg");
  }
  WriteFile(WideToUtf8(FirstSlidePathKo()), "jpg");
  WriteSupportFile("image001.png", "untouched by a slides purge");

  EXPECT_EQ(PurgeSlidesExport(true), "all exported files were deleted!");
  EXPECT_FALSE(PathExists(Slides()));
  EXPECT_FALSE(PathExists(ImportHtmlPathUtf8()));
  EXPECT_TRUE(PathExists(Support() + "/image001.png"));
}

TEST_F(PurgeTest, SlidesThatCannotBeDeletedGiveThePowerPointSentence) {
  // Running as root, permissions cannot keep a file; the walk's depth limit
  // can: a tree deeper than it keeps Slide1.JPG (here a folder) in place.
  MakeDir(Slides());
  std::string deep = WideToUtf8(FirstSlidePathEn());
  MakeDir(deep);
  for (int i = 0; i < 130; ++i) {
    deep += "/d";
    MakeDir(deep);
  }
  EXPECT_EQ(PurgeSlidesExport(false),
            "{\n"
            "   \"message\" : \"Delete Failure: some exported files were NOT deleted! "
            "Maybe still opened by POWERPT.exe application\",\n"
            "   \"success\" : false\n"
            "}\n");
  EXPECT_TRUE(PathExists(WideToUtf8(FirstSlidePathEn())));
}

TEST_F(PurgeTest, DeleteFolderTreeRemovesTheFolderUnlessItIsTop) {
  const std::string tree = Root() + "/tree";
  MakeDir(tree);
  MakeDir(tree + "/sub");
  WriteFile(tree + "/sub/a.txt", "");
  WriteFile(tree + "/b.txt", "");
  const std::u16string wide = Utf8ToWide(tree);
  EXPECT_TRUE(DeleteFolderTree(wide, wide));
  EXPECT_TRUE(PathExists(tree));
  EXPECT_FALSE(PathExists(tree + "/sub"));
  EXPECT_FALSE(PathExists(tree + "/b.txt"));

  MakeDir(tree + "/sub");
  EXPECT_TRUE(DeleteFolderTree(Utf8ToWide(tree + "/sub"), wide));
  EXPECT_FALSE(PathExists(tree + "/sub"));
  EXPECT_TRUE(DeleteFolderTree(wide, u"/elsewhere"));
  EXPECT_FALSE(PathExists(tree));
  EXPECT_FALSE(DeleteFolderTree(wide, wide));  // cannot be listed any more
}

TEST_F(PurgeTest, EntriesWithNamesThatAreNotUtf8AreDeletedToo) {
  WriteWordExport();
  WriteFile(Support() + "/caf\xE9.png", "latin-1 name");
  EXPECT_EQ(PurgeWordExport(true), "all exported files were deleted!");
  EXPECT_FALSE(PathExists(Support()));
}

}  // namespace
