#pragma once
// Profile files: case-insensitive sections and keys, values trimmed and cut to
// 2047 code page bytes, a missing file or key reads empty, a write creates
// file and section and changes no other line. Every call opens the file, does
// one thing and lets go. Writes replace the file atomically and throw
// OperatorError("Unable to write to <path>") when refused.
#include <string>
#include <string_view>

#include "base/StringGrid.h"

namespace ristova {

constexpr std::size_t kIniValueMaxBytes = 2047;

std::string ReadIniText(const std::string& fileName, std::string_view section, std::string_view key);
std::string ReadIniTextDef(const std::string& fileName, std::string_view section,
                           std::string_view key, std::string_view def);
void WriteIniText(const std::string& fileName, std::string_view section, std::string_view key,
                  std::string_view value);
void EraseIniSection(const std::string& fileName, std::string_view section);
void SaveGridToIni(const std::string& fileName, std::string_view section, const StringGrid& grid);
void LoadGridFromIni(const std::string& fileName, std::string_view section, StringGrid& grid);

}  // namespace ristova
