#pragma once

#include <filesystem>

namespace vellora {

// The directory that holds the program file (read from /proc/self/exe), never the working
// directory: every data file lives there.
std::filesystem::path RunDirectory();

}  // namespace vellora
