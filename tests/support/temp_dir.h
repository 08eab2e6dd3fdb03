#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vellora::testing {

// A fresh directory under the system's temporary directory, removed with its contents when
// the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Whole-file helpers for tests: raw bytes in, raw bytes out ("" for a missing file).
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);
std::string ReadBytes(const std::filesystem::path& path);

}  // namespace vellora::testing
