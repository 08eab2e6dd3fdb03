#include "platform/files.h"

#include <system_error>

namespace vellora {

std::filesystem::path RunDirectory() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || program.empty()) return std::filesystem::path();
  return program.parent_path();
}

}  // namespace vellora
