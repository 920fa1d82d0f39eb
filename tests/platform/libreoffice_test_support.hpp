// Documents made on the spot for the LibreOffice tests: flat OpenDocument
// files with pictures, turned into Office formats by the engine itself, and
// checks of the output layout.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/libreoffice/engine.hpp"

namespace lotest {

namespace fs = std::filesystem;

// Three distinct 8x8 PNG pictures (red, blue, green), Base64.
extern const char* const kPictures[3];

// A flat text document: `paragraphs` in order; an entry "@<n>" is picture n.
std::string FlatText(const std::vector<std::string>& paragraphs);
// A flat spreadsheet with the cells of `rows` (one sheet) and picture 0.
std::string FlatSheet(const std::vector<std::vector<std::string>>& rows);
// A flat presentation with one slide per title; slide n shows picture n % 3.
std::string FlatPresentation(const std::vector<std::string>& titles);

void WriteFile(const fs::path& path, const std::string& bytes);
std::string ReadFile(const fs::path& path);
bool IsUtf8(const std::string& text);

// Writes `flat` beside `target` and converts it with the engine into
// `target` using the export filter `filter`.
void MakeDocument(platform::libreoffice::Engine& engine, platform::libreoffice::DocumentApp app,
                  const std::string& flat, const fs::path& target, const std::string& filter);

// A folder below the test's own runtime folder, created empty.
fs::path FreshDir(const std::string& name);

// The test's engine options: short limits so that failures show quickly.
platform::libreoffice::EngineOptions TestOptions();

}  // namespace lotest
