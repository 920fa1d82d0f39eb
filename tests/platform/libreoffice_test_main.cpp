// Gives the test process its own HOME and XDG_RUNTIME_DIR (mode 0700), so
// that office profiles, pipes and export folders never meet those of other
// tests or of the user, and removes them afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A child started by a test shares that test's folders.
  if (std::getenv("DL_LO_CHILD_REPORT") != nullptr) return RUN_ALL_TESTS();
  char templ[] = "/tmp/dl-lo-test-XXXXXX";
  if (::mkdtemp(templ) == nullptr) return 2;
  const std::filesystem::path root = templ;
  const auto home = root / "home";
  const auto run = root / "run";
  std::filesystem::create_directory(home);
  std::filesystem::create_directory(run);
  std::filesystem::permissions(home, std::filesystem::perms::owner_all);
  std::filesystem::permissions(run, std::filesystem::perms::owner_all);
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  ::unsetenv("XDG_CACHE_HOME");
  const int result = RUN_ALL_TESTS();
  std::error_code ec;
  if (std::getenv("DL_TEST_KEEP") != nullptr)
    std::printf("test files kept in %s\n", root.c_str());
  else
    std::filesystem::remove_all(root, ec);
  return result;
}
