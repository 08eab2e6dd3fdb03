#include "platform/files.h"

#include <stdlib.h>

#include <system_error>

#include "platform/safe_file.h"

namespace vellora {

std::filesystem::path RunDirectory() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || program.empty()) return std::filesystem::path();
  return program.parent_path();
}

std::filesystem::path TempDirectory() {
  for (const char* variable : {"temp", "TEMP", "TMPDIR"}) {
    const char* value = getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "/tmp";
}

std::optional<std::filesystem::path> WriteTempFile(std::string_view name, std::string_view bytes) {
  const std::filesystem::path path = TempDirectory() / name;
  if (WriteFileAtomically(path, bytes, LinkPolicy::kReplace)) return std::nullopt;
  return path;
}

}  // namespace vellora
