// The installed LibreOffice's version, read from its install tree: the
// "soffice" program tells that the engine is there, the ProductKey of its
// bootstraprc ("LibreOffice 7.4") tells the version. Starting the engine to
// ask it would take seconds and a profile; these files are written by the
// installer and are always there.
#include "platform/posix/office_version_posix.hpp"

#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace platform {
namespace {

// bootstraprc is a few hundred bytes; anything much larger is not one.
constexpr std::streamsize kMaxRcBytes = 64 * 1024;

bool IsProgram(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

// The version in a ProductKey value: its last blank-separated word, made of
// digits and dots and starting with a digit. Empty when there is none.
std::string VersionOfProductKey(const std::string& key) {
  std::string::size_type end = key.find_last_not_of(" \t\r");
  if (end == std::string::npos) return {};
  std::string::size_type start = key.find_last_of(" \t=", end);
  start = (start == std::string::npos) ? 0 : start + 1;
  std::string word = key.substr(start, end + 1 - start);
  if (word.empty() || word[0] < '0' || word[0] > '9') return {};
  for (char c : word) {
    if ((c < '0' || c > '9') && c != '.') return {};
  }
  return word;
}

std::string ReadProductVersion(const std::string& rc_path) {
  std::ifstream in(rc_path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamoff size = in.tellg();
  if (size <= 0) return {};
  in.seekg(0);
  std::string text(static_cast<size_t>(std::min<std::streamoff>(size, kMaxRcBytes)), '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  static const std::string kKey = "ProductKey=";
  std::string::size_type pos = 0;
  while (pos < text.size()) {
    std::string::size_type eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    if (text.compare(pos, kKey.size(), kKey) == 0) {
      return VersionOfProductKey(text.substr(pos + kKey.size(), eol - pos - kKey.size()));
    }
    pos = eol + 1;
  }
  return {};
}

class LibreOfficeVersion final : public OfficeVersion {
 public:
  explicit LibreOfficeVersion(std::vector<std::string> program_dirs)
      : program_dirs_(std::move(program_dirs)) {}

  RegisteredWordVersion ReadWordCurVer() const override {
    RegisteredWordVersion result;
    for (const std::string& dir : program_dirs_) {
      if (!IsProgram(dir + "/soffice")) continue;
      std::string version = ReadProductVersion(dir + "/bootstraprc");
      if (version.empty()) {
        result.state = RegisteredWordVersion::State::kUnreadable;
        return result;
      }
      result.state = RegisteredWordVersion::State::kPresent;
      result.value = u"Word.Application.";
      for (char c : version) result.value.push_back(static_cast<char16_t>(c));
      return result;
    }
    return result;  // kMissing
  }

 private:
  std::vector<std::string> program_dirs_;
};

std::vector<std::string> DefaultProgramDirs() {
  std::vector<std::string> dirs = {"/usr/lib/libreoffice/program",
                                   "/usr/lib64/libreoffice/program",
                                   "/usr/local/lib/libreoffice/program"};
  // The Document Foundation's own packages install into /opt/libreoffice<version>.
  glob_t found{};
  if (::glob("/opt/libreoffice*/program", GLOB_ONLYDIR, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) dirs.emplace_back(found.gl_pathv[i]);
  }
  ::globfree(&found);
  return dirs;
}

}  // namespace

std::unique_ptr<OfficeVersion> CreateLibreOfficeVersion(std::vector<std::string> program_dirs) {
  return std::make_unique<LibreOfficeVersion>(std::move(program_dirs));
}

std::unique_ptr<OfficeVersion> OfficeVersion::CreatePlatformBackend() {
  return CreateLibreOfficeVersion(DefaultProgramDirs());
}

}  // namespace platform
