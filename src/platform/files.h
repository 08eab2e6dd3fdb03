#pragma once

#include <filesystem>

namespace vellora {

// The directory that holds the program file (read from /proc/self/exe), never the working
// directory: every data file lives there.
std::filesystem::path RunDirectory();

// The temporary-files directory: the environment variable "temp" as on Windows, else TMPDIR,
// else /tmp.
std::filesystem::path TempDirectory();

}  // namespace vellora
