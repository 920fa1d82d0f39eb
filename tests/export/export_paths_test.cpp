#include "export/export_paths.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/utf.hpp"
#include "tests/export/export_test_support.hpp"

namespace {

using export_test::ExportFolderTest;
using export_test::MakeDir;
using export_test::PathExists;
using export_test::ScopedEnv;
using export_test::TempDir;
using export_test::WriteFile;

TEST_F(ExportFolderTest, TableHangsBelowThePrivateRoot) {
  const std::string root = runtime_.path() + "/docklane";
  struct stat st;
  ASSERT_EQ(lstat(root.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  EXPECT_TRUE(ExportPathsReady());
  EXPECT_EQ(WideToUtf8(ExportRoot()), root);
  EXPECT_EQ(ImportHtmlPathUtf8(), root + "/import.html");
  EXPECT_EQ(WideToUtf8(ImportHtmlPath()), root + "/import.html");
  EXPECT_EQ(SupportFolderPathUtf8(), root + "/import.files");
  EXPECT_EQ(SupportFolderPrefix(), "import.files/");
  EXPECT_EQ(WideToUtf8(SlidesFolderPath()), root + "/import_pptslides");
  EXPECT_EQ(WideToUtf8(FirstSlidePathEn()), root + "/import_pptslides/Slide1.JPG");
  EXPECT_EQ(FirstSlidePathKo(),
            Utf8ToWide(root) + u"/import_pptslides/\uC2AC\uB77C\uC774\uB4DC1.JPG");
  EXPECT_EQ(FileListPathUtf8(), root + "/import.files/filelist.xml");
  EXPECT_EQ(WideToUtf8(FileListPath()), FileListPathUtf8());
  EXPECT_EQ(ScreenCapturePathUtf8(), root + "/pqe_screen_capture.png");
  EXPECT_EQ(FormatSlidePath(SlidePatternEn(), 12),
            Utf8ToWide(root) + u"/import_pptslides/Slide12.JPG");
  EXPECT_EQ(FormatSlidePath(SlidePatternKo(), 1), FirstSlidePathKo());
  // Only the root is created; the engine makes the rest.
  EXPECT_FALSE(PathExists(SupportFolderPathUtf8()));
}

TEST_F(ExportFolderTest, ExistingRootIsKeptAndMadePrivate) {
  const std::string root = Root();
  WriteFile(root + "/keep.txt", "x");
  ASSERT_EQ(chmod(root.c_str(), 0755), 0);
  ASSERT_TRUE(InitExportPaths());
  struct stat st;
  ASSERT_EQ(stat(root.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(PathExists(root + "/keep.txt"));
}

TEST_F(ExportFolderTest, SymlinkedRootIsRefusedAndTableEmptied) {
  const std::string root = Root();
  ASSERT_EQ(rmdir(root.c_str()), 0);
  ASSERT_EQ(symlink(outside_.path().c_str(), root.c_str()), 0);
  std::string reason;
  EXPECT_FALSE(InitExportPaths(&reason));
  EXPECT_NE(reason.find("symlink"), std::string::npos) << reason;
  EXPECT_FALSE(ExportPathsReady());
  EXPECT_TRUE(ExportRoot().empty());
  EXPECT_TRUE(ImportHtmlPathUtf8().empty());
  EXPECT_TRUE(SupportFolderPathUtf8().empty());
  // Relative names have nowhere to go; absolute ones still resolve.
  EXPECT_FALSE(ResolveExportName("image001.png"));
  EXPECT_EQ(ResolveExportName("/tmp/x.png"), std::optional<std::string>("/tmp/x.png"));
}

TEST_F(ExportFolderTest, RootOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away";
  ASSERT_EQ(chown(Root().c_str(), 12345, 12345), 0);
  std::string reason;
  EXPECT_FALSE(InitExportPaths(&reason));
  EXPECT_NE(reason.find("another user"), std::string::npos) << reason;
  EXPECT_FALSE(ExportPathsReady());
}

TEST_F(ExportFolderTest, RootThatIsAFileIsRefused) {
  ASSERT_EQ(rmdir(Root().c_str()), 0);
  WriteFile(Root(), "not a folder");
  EXPECT_FALSE(InitExportPaths());
}

TEST(ExportRootChoice, WithoutRuntimeFolderTheRootIsPerUserInTmp) {
  TempDir scratch;
  ScopedEnv home("HOME", scratch.path().c_str());
  const std::string not_a_dir = scratch.path() + "/file";
  WriteFile(not_a_dir, "");
  const std::string root = "/tmp/docklane-" + std::to_string(geteuid());
  const bool existed = PathExists(root);
  for (const char* runtime : {static_cast<const char*>(nullptr), not_a_dir.c_str(),
                              "relative/dir"}) {
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime);
    std::string reason;
    ASSERT_TRUE(InitExportPaths(&reason)) << reason;
    EXPECT_EQ(ExportRootUtf8(), root);
  }
  if (!existed) rmdir(root.c_str());
}

TEST(ExportRootChoice, RootWhosePathsWouldNotFitIsRefused) {
  TempDir scratch;
  ScopedEnv home("HOME", scratch.path().c_str());
  std::string deep = scratch.path();
  while (deep.size() < 230) {
    deep += "/" + std::string(40, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  ScopedEnv xdg("XDG_RUNTIME_DIR", deep.c_str());
  std::string reason;
  EXPECT_FALSE(InitExportPaths(&reason));
  EXPECT_NE(reason.find("too long"), std::string::npos) << reason;
  EXPECT_FALSE(ExportPathsReady());
}

TEST_F(ExportFolderTest, NamesResolveBelowTheSupportFolderUnlessAbsolute) {
  EXPECT_EQ(ResolveExportName("image001.png"), Support() + "/image001.png");
  EXPECT_EQ(ResolveExportName("/srv/pic.png"), std::optional<std::string>("/srv/pic.png"));
  // Names from Windows clients stay as they are.
  EXPECT_EQ(ResolveExportName("C:\\x\\pic.png"),
            std::optional<std::string>("C:\\x\\pic.png"));
  EXPECT_TRUE(IsAbsoluteExportName("/a"));
  EXPECT_TRUE(IsAbsoluteExportName("d:"));
  EXPECT_FALSE(IsAbsoluteExportName("a/b:c"));
  EXPECT_FALSE(IsAbsoluteExportName(""));
}

TEST_F(ExportFolderTest, NamesThatCannotBeOpenedSafelyAreRefused) {
  // 259 bytes is the longest path; one more is refused, not cut.
  const std::string longest = "/" + std::string(258, 'p');
  EXPECT_EQ(ResolveExportName(longest), longest);
  EXPECT_FALSE(ResolveExportName(longest + "p"));
  const std::size_t room = kMaxExportPathBytes - Support().size() - 1;
  EXPECT_TRUE(ResolveExportName(std::string(room, 'r')));
  EXPECT_FALSE(ResolveExportName(std::string(room + 1, 'r')));
  // A NUL would open the shorter name in front of it.
  EXPECT_FALSE(ResolveExportName(std::string("a.png\0.txt", 10)));
}

}  // namespace
