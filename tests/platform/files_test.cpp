#include "platform/files.h"

#include <gtest/gtest.h>

#include "support/command.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

TEST(FilesTest, RunDirectoryIsWhereTheProgramFileIsNotTheWorkingDirectory) {
  testing::TempDir program_dir;
  testing::TempDir working_dir;
  const auto copy = program_dir / "vellora-copy";
  std::filesystem::copy_file(PRINT_RUN_DIR_PATH, copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
  const std::string printed =
      testing::CommandOutput("cd '" + working_dir.Path().string() + "' && '" + copy.string() + "'");
  EXPECT_EQ(printed, std::filesystem::canonical(program_dir.Path()).string() + "\n");
}

}  // namespace
}  // namespace vellora
