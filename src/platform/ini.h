#pragma once

// INI profile files with the behaviour of Windows' private-profile functions
// (GetPrivateProfileString, WritePrivateProfileString, ...): GBK text, CRLF lines, one
// "[section]" header per section and one "key=value" line per key. The rules, including the
// points Windows leaves open, are listed at the top of ini.cpp.
//
// Every write rewrites the file crash-safely (see safe_file.h) under a process-wide lock, so
// writers on several threads never lose each other's updates. Reads use a parsed copy of the
// file that is checked against the file on every call, so a file changed by anyone reads fresh.

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace vellora {

// The value of a key; the empty text for a missing file, section or key.
Text ReadIniKey(const std::filesystem::path& file, const Text& section, const Text& key);

// Sets a key: a missing file is created, a missing section is appended at the end of the file,
// an existing key's value is replaced in place and a new key goes to the end of its section.
std::error_code WriteIniKey(const std::filesystem::path& file, const Text& section, const Text& key,
                            const Text& value);

// Several WriteIniKey calls on one section, in order, landing in the file together.
using IniKeyValues = std::vector<std::pair<Text, Text>>;
std::error_code WriteIniKeys(const std::filesystem::path& file, const Text& section,
                             const IniKeyValues& keys);

// Removes a section with all its keys; a missing file or section is no error.
std::error_code DeleteIniSection(const std::filesystem::path& file, const Text& section);

// All section names in file order.
std::vector<Text> ListIniSections(const std::filesystem::path& file);

}  // namespace vellora
