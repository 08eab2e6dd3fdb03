#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace vellora {

// The directory that holds the program file (read from /proc/self/exe), never the working
// directory: every data file lives there.
std::filesystem::path RunDirectory();

// The temporary-files directory: the environment variable "temp" as on Windows, else TMPDIR,
// else /tmp.
std::filesystem::path TempDirectory();

// Writes `bytes` to `name` in the temporary-files directory, replacing what is there; a link
// someone planted at that name is replaced, never followed. Returns the path, or nothing.
std::optional<std::filesystem::path> WriteTempFile(std::string_view name, std::string_view bytes);

}  // namespace vellora
