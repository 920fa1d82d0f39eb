// The fontconfig backend on a font folder of the test's own, so that the
// expected families do not depend on the machine.
#include <fontconfig/fontconfig.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fonts.hpp"

namespace fs = std::filesystem;

namespace {

const fs::path kDejaVu = "/usr/share/fonts/truetype/dejavu";

class FontconfigFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dl_fonts_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    fs::create_directory(root_ / "fonts");
    std::ofstream(root_ / "fonts.conf")
        << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
        << "  <dir>" << (root_ / "fonts").string() << "</dir>\n"
        << "  <cachedir>" << (root_ / "cache").string() << "</cachedir>\n</fontconfig>\n";
    const char* old = ::getenv("FONTCONFIG_FILE");
    if (old) saved_ = old;
    had_saved_ = old != nullptr;
    ::setenv("FONTCONFIG_FILE", (root_ / "fonts.conf").c_str(), 1);
  }

  void TearDown() override {
    if (had_saved_) {
      ::setenv("FONTCONFIG_FILE", saved_.c_str(), 1);
    } else {
      ::unsetenv("FONTCONFIG_FILE");
    }
    FcInitReinitialize();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Copies fonts into the folder and makes fontconfig read it.
  bool Install(const std::vector<std::string>& files) {
    for (const auto& f : files) {
      if (!fs::exists(kDejaVu / f)) return false;
      fs::copy_file(kDejaVu / f, root_ / "fonts" / f);
    }
    return FcInitReinitialize() == FcTrue;
  }

  static std::vector<std::u16string> Families() {
    auto families = platform::FontCollection::CreatePlatformBackend()->InstalledFamilies();
    EXPECT_TRUE(families.has_value());
    return families.value_or(std::vector<std::u16string>{});
  }

  fs::path root_;
  std::string saved_;
  bool had_saved_ = false;
};

TEST_F(FontconfigFolder, StylesOfOneFamilyGiveOneName) {
  ASSERT_TRUE(Install({"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSerif.ttf"}));
  auto families = Families();
  std::sort(families.begin(), families.end());
  EXPECT_EQ(families, (std::vector<std::u16string>{u"DejaVu Sans", u"DejaVu Serif"}));
}

TEST_F(FontconfigFolder, FamilyRepeatedInSeveralNameListsIsListedOnce) {
  // The condensed faces carry the names "DejaVu Sans" and "DejaVu Sans
  // Condensed"; the regular face carries "DejaVu Sans" alone.
  if (!Install({"DejaVuSans.ttf", "DejaVuSansCondensed.ttf", "DejaVuSansCondensed-Bold.ttf"})) {
    GTEST_SKIP() << "DejaVuSansCondensed.ttf (fonts-dejavu-extra) is not installed";
  }
  auto families = Families();
  std::sort(families.begin(), families.end());
  EXPECT_EQ(families, (std::vector<std::u16string>{u"DejaVu Sans", u"DejaVu Sans Condensed"}));
}

TEST_F(FontconfigFolder, NoFontsIsAnEmptyListNotAFailure) {
  ASSERT_TRUE(Install({}));
  EXPECT_TRUE(Families().empty());
}

}  // namespace
