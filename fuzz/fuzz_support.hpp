// Shared by the fuzz targets: a private folder for the fuzzing process (its
// runtime folder and home, so that the export root and every file a target
// writes stay inside it), removed when the process exits, and a check that
// stops the run like a crash when an expectation about the output fails.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fuzz {

inline const std::string& Folder() {
  // Never destroyed: the removal at exit runs after static destructors.
  static const std::string* const path = [] {
    char pattern[] = "/tmp/dl-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) std::abort();
    const auto* folder = new std::string(made);
    std::filesystem::create_directory(*folder + "/run");
    std::filesystem::permissions(*folder + "/run", std::filesystem::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", (*folder + "/run").c_str(), 1);
    ::setenv("HOME", folder->c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(Folder(), ignored);
    });
    return folder;
  }();
  return *path;
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The part of `text` before `separator`, the rest after it going to `rest`
// (empty when there is no separator).
inline std::string_view SplitAt(std::string_view text, std::string_view separator, std::string_view& rest) {
  const std::size_t at = text.find(separator);
  if (at == std::string_view::npos) {
    rest = std::string_view();
    return text;
  }
  rest = text.substr(at + separator.size());
  return text.substr(0, at);
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
  std::abort();
}

#define FUZZ_EXPECT(condition) \
  do {                         \
    if (!(condition)) ::fuzz::Fail(#condition); \
  } while (false)

}  // namespace fuzz
