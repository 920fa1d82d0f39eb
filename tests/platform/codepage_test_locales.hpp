// Locales for tests that choose the system code page: built on first use
// with localedef into a folder of the build tree that LOCPATH names, so the
// machine's own locales are neither needed nor changed.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace test_locales {

// Sets or unsets one environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline std::string LocaleDir() { return DL_TEST_LOCALE_DIR; }

// Builds `name` ("ko_KR.EUC-KR": source locale, a dot, the character map)
// unless an earlier run did. Several test processes may race here: each
// builds into a folder of its own and renames it into place.
inline bool EnsureLocale(const std::string& name) {
  const std::string dir = LocaleDir();
  const std::string target = dir + "/" + name;
  struct stat st;
  if (stat((target + "/LC_CTYPE").c_str(), &st) == 0) return true;
  const auto dot = name.find('.');
  if (dot == std::string::npos) return false;
  mkdir(dir.c_str(), 0755);
  const std::string scratch = dir + "/build." + std::to_string(getpid());
  mkdir(scratch.c_str(), 0755);
  const std::string built = scratch + "/" + name;
  const std::string command = "localedef -c -i " + name.substr(0, dot) +
                              " -f " + name.substr(dot + 1) + " '" + built +
                              "' >/dev/null 2>&1";
  (void)std::system(command.c_str());
  if (stat((built + "/LC_CTYPE").c_str(), &st) == 0) {
    (void)std::rename(built.c_str(), target.c_str());
  }
  (void)std::system(("rm -rf '" + scratch + "'").c_str());
  return stat((target + "/LC_CTYPE").c_str(), &st) == 0;
}

// Selects a locale through LC_ALL (LOCPATH pointing at the test locales).
class ScopedLocale {
 public:
  explicit ScopedLocale(const std::string& name)
      : ok_(name == "C" || name == "POSIX" || EnsureLocale(name)),
        locpath_("LOCPATH", LocaleDir().c_str()),
        lc_all_("LC_ALL", name.c_str()) {}
  bool ok() const { return ok_; }

 private:
  bool ok_;
  ScopedEnv locpath_;
  ScopedEnv lc_all_;
};

}  // namespace test_locales
