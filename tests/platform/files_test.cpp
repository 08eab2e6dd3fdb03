#include "platform/files.h"

#include <stdio.h>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace vellora {
namespace {

std::string RunAndRead(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) out += buffer;
  pclose(pipe);
  return out;
}

TEST(FilesTest, RunDirectoryIsWhereTheProgramFileIsNotTheWorkingDirectory) {
  testing::TempDir program_dir;
  testing::TempDir working_dir;
  const auto copy = program_dir / "vellora-copy";
  std::filesystem::copy_file(PRINT_RUN_DIR_PATH, copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
  const std::string printed =
      RunAndRead("cd '" + working_dir.Path().string() + "' && '" + copy.string() + "'");
  EXPECT_EQ(printed, std::filesystem::canonical(program_dir.Path()).string() + "\n");
}

}  // namespace
}  // namespace vellora
