#include "platform/safe_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "support/temp_dir.h"

namespace vellora {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

int FailingRename(const char*, const char*) {
  errno = EIO;
  return -1;
}

class SafeFileTest : public ::testing::Test {
 protected:
  void TearDown() override { SetRenameFunctionForTesting(nullptr); }
  TempDir dir_;
};

TEST_F(SafeFileTest, ReplacesContentsAndLeavesNoTemporaryFile) {
  const auto path = dir_ / "data.dat";
  WriteBytes(path, "old");
  ASSERT_FALSE(WriteFileAtomically(path, "new contents"));
  EXPECT_EQ(ReadBytes(path), "new contents");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
}

TEST_F(SafeFileTest, AFailedRenameLeavesTheOldFileByteIdentical) {
  const auto path = dir_ / "data.dat";
  const std::string old_bytes = "[0111090503]\r\n\xB3\xF6\xB7\xA2=x\r\n";
  WriteBytes(path, old_bytes);
  SetRenameFunctionForTesting(&FailingRename);
  const std::error_code error = WriteFileAtomically(path, "new");
  EXPECT_EQ(error, std::errc::io_error);
  EXPECT_EQ(ReadBytes(path), old_bytes);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
}

TEST_F(SafeFileTest, KeepsModeAndLinks) {
  const auto target = dir_ / "real.dat";
  const auto link = dir_ / "data.dat";
  WriteBytes(target, "old");
  ::chmod(target.c_str(), 0600);
  std::filesystem::create_symlink(target, link);
  ASSERT_FALSE(WriteFileAtomically(link, "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), "new");
  struct stat st {};
  ::stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SafeFileTest, ALinkPlantedInASharedDirectoryIsReplacedNotFollowed) {
  const auto victim = dir_ / "victim";
  const auto planted = dir_ / "dozlin_lv.dzl";
  WriteBytes(victim, "precious");
  std::filesystem::create_symlink(victim, planted);
  ASSERT_FALSE(WriteFileAtomically(planted, "picture", LinkPolicy::kReplace));
  EXPECT_EQ(ReadBytes(victim), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(planted));
  EXPECT_EQ(ReadBytes(planted), "picture");
}

TEST_F(SafeFileTest, MissingDirectoryIsAnError) {
  EXPECT_TRUE(WriteFileAtomically(dir_ / "no" / "data.dat", "x"));
  std::error_code error;
  EXPECT_FALSE(ReadWholeFile(dir_ / "none", error));
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

}  // namespace
}  // namespace vellora
