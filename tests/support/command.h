#pragma once

#include <string>

namespace vellora::testing {

// Runs a shell command line and returns what it wrote on stdout.
std::string CommandOutput(const std::string& command);

}  // namespace vellora::testing
