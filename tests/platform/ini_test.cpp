#include "platform/ini.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "platform/safe_file.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

Text G(std::string_view gbk) { return Text::FromGbk(gbk); }

enum class Op { kRead, kWrite, kDelete, kList };

struct IniCase {
  const char* name;
  std::optional<std::string> before;  // nullopt: no file
  Op op;
  std::string section;
  std::string key;
  std::string value;
  std::string result;                // read value, or section names joined by "|"
  std::optional<std::string> after;  // nullopt: the file is as before
};

std::string Join(const std::vector<Text>& names) {
  std::string out;
  for (const Text& name : names) out += (out.empty() ? "" : "|") + name.Bytes();
  return out;
}

// 出发城市 and 北京 in GBK, and a section name whose second byte is "]".
#define CITY_KEY "\xB3\xF6\xB7\xA2\xB3\xC7\xCA\xD0"
#define BEIJING "\xB1\xB1\xBE\xA9"
#define BRACKET_NAME \
  "\x81]\x81["       \
  "A\x81"            \
  "a"

const IniCase kCases[] = {
    // Reading
    {"missing file reads empty", std::nullopt, Op::kRead, "s", "k", "", "", std::nullopt},
    {"missing section", "[a]\r\nk=1\r\n", Op::kRead, "b", "k", "", "", std::nullopt},
    {"missing key", "[a]\r\nk=1\r\n", Op::kRead, "a", "j", "", "", std::nullopt},
    {"GBK key and value", "[0111090503]\r\n" CITY_KEY "=" BEIJING "\r\n", Op::kRead, "0111090503",
     CITY_KEY, "", BEIJING, std::nullopt},
    {"LF and lone CR endings", "[a]\nx=1\r[b]\ry=2\n", Op::kRead, "b", "y", "", "2", std::nullopt},
    {"no final line ending", "[a]\r\nk=v", Op::kRead, "a", "k", "", "v", std::nullopt},
    {"blanks around key and value", "  [ a ]  \r\n\t k \t=  v w \t\r\n", Op::kRead, "a", "k", "",
     "v w", std::nullopt},
    {"double quotes stripped", "[a]\r\nk=\" v \"\r\n", Op::kRead, "a", "k", "", " v ",
     std::nullopt},
    {"single quotes stripped", "[a]\r\nk='v'\r\n", Op::kRead, "a", "k", "", "v", std::nullopt},
    {"unmatched quotes kept", "[a]\r\nk=\"v'\r\n", Op::kRead, "a", "k", "", "\"v'", std::nullopt},
    {"case of ASCII names ignored", "[Abc]\r\nKey=1\r\n", Op::kRead, "aBC", "kEY", "", "1",
     std::nullopt},
    {"second-byte letters compared exactly",
     "[\x81"
     "A]\r\nk=1\r\n",
     Op::kRead,
     "\x81"
     "a",
     "k", "", "", std::nullopt},
    {"value may hold '='", "[a]\r\nk=x=y\r\n", Op::kRead, "a", "k", "", "x=y", std::nullopt},
    {"first of duplicate keys", "[a]\r\nk=1\r\nk=2\r\n", Op::kRead, "a", "k", "", "1",
     std::nullopt},
    {"first of duplicate sections", "[a]\r\nk=1\r\n[A]\r\nk=2\r\nj=3\r\n", Op::kRead, "a", "j", "",
     "", std::nullopt},
    {"comment is no key", "[a]\r\n;k=1\r\n", Op::kRead, "a", ";k", "", "", std::nullopt},
    {"header without ']' is no header", "[a]\r\n[b\r\nk=1\r\n", Op::kRead, "a", "k", "", "1",
     std::nullopt},
    {"name with second bytes ']' and '['", "[" BRACKET_NAME "]\r\nk=1\r\n", Op::kRead, BRACKET_NAME,
     "k", "", "1", std::nullopt},
    {"UTF-8 with a byte order mark", "\xEF\xBB\xBF[a]\r\nk=\xE5\x8C\x97\xE4\xBA\xAC\r\n", Op::kRead,
     "a", "k", "", BEIJING, std::nullopt},
    // Listing
    {"sections in file order", "x=1\r\n[b]\r\n[a]\r\n;[c]\r\n[]\r\n[B]\r\n[" BRACKET_NAME "]\r\n",
     Op::kList, "", "", "", "b|a|" BRACKET_NAME, std::nullopt},
    {"no file lists nothing", std::nullopt, Op::kList, "", "", "", "", std::nullopt},
    // Writing
    {"new file is GBK with CRLF", std::nullopt, Op::kWrite, "0111090503", CITY_KEY, BEIJING, "",
     "[0111090503]\r\n" CITY_KEY "=" BEIJING "\r\n"},
    {"value replaced in place, name spelling kept", "[a]\r\nKey = 1\r\nz=2\r\n", Op::kWrite, "A",
     "key", "9", "", "[a]\r\nKey=9\r\nz=2\r\n"},
    {"new key after the section's last line", "[a]\r\nk=1\r\n\r\n[b]\r\nj=2\r\n", Op::kWrite, "a",
     "n", "3", "", "[a]\r\nk=1\r\nn=3\r\n\r\n[b]\r\nj=2\r\n"},
    {"new section at the end, after a missing final newline", "[a]\r\nk=1", Op::kWrite, "b", "k",
     "2", "", "[a]\r\nk=1\r\n[b]\r\nk=2\r\n"},
    {"other lines keep their bytes, endings become CRLF",
     "junk \x01\xFF\n;c\n[a]\nk=1\n\n[" BRACKET_NAME "]\nk=2\n", Op::kWrite, BRACKET_NAME, "k", "3",
     "", "junk \x01\xFF\r\n;c\r\n[a]\r\nk=1\r\n\r\n[" BRACKET_NAME "]\r\nk=3\r\n"},
    {"line breaks in a value cannot plant a section", "[a]\r\n", Op::kWrite, "a", "k",
     "x\r\n[evil]\r\ny=1", "", "[a]\r\nk=x  [evil]  y=1\r\n"},
    {"UTF-8 file stays UTF-8", "\xEF\xBB\xBF[a]\r\nk=1\r\n", Op::kWrite, "a", "j", BEIJING, "",
     "\xEF\xBB\xBF[a]\r\nk=1\r\nj=\xE5\x8C\x97\xE4\xBA\xAC\r\n"},
    // Deleting
    {"delete a section and its keys", "[a]\r\nk=1\r\n[b]\r\nk=2\r\n[c]\r\n", Op::kDelete, "B", "",
     "", "", "[a]\r\nk=1\r\n[c]\r\n"},
    {"delete removes duplicates too", "[a]\r\nk=1\r\n[b]\r\n[A]\r\nk=2\r\n", Op::kDelete, "a", "",
     "", "", "[b]\r\n"},
    {"delete a missing section changes nothing", "[a]\nk=1", Op::kDelete, "b", "", "", "",
     std::nullopt},
    {"delete on a missing file creates none", std::nullopt, Op::kDelete, "b", "", "", "",
     std::nullopt},
};

TEST(IniTest, Cases) {
  for (const IniCase& c : kCases) {
    TempDir dir;
    const auto path = dir / "data.dat";
    if (c.before) WriteBytes(path, *c.before);
    std::string result;
    switch (c.op) {
      case Op::kRead:
        result = ReadIniKey(path, G(c.section), G(c.key)).Bytes();
        break;
      case Op::kList:
        result = Join(ListIniSections(path));
        break;
      case Op::kWrite:
        EXPECT_FALSE(WriteIniKey(path, G(c.section), G(c.key), G(c.value))) << c.name;
        break;
      case Op::kDelete:
        EXPECT_FALSE(DeleteIniSection(path, G(c.section))) << c.name;
        break;
    }
    EXPECT_EQ(result, c.result) << c.name;
    if (c.after) {
      EXPECT_EQ(ReadBytes(path), *c.after) << c.name;
    } else if (c.before) {
      EXPECT_EQ(ReadBytes(path), *c.before) << c.name;
    } else {
      EXPECT_FALSE(std::filesystem::exists(path)) << c.name;
    }
  }
}

// data.dat as the Windows program writes it: GBK, CRLF, five keys per route.
constexpr std::string_view kWindowsFile =
    "[0111090503]\r\n"
    "\xB3\xF6\xB7\xA2\xB3\xC7\xCA\xD0=\xC7\xE0\xB5\xBA\r\n"   // 出发城市=青岛
    "\xB5\xBD\xB4\xEF\xB3\xC7\xCA\xD0=\xB3\xC9\xB6\xBC\r\n"   // 到达城市=成都
    "\xB3\xF6\xB7\xA2\xC8\xD5\xC6\xDA=2013-01-15\r\n"         // 出发日期
    "\xD0\xC4\xC0\xED\xBC\xDB\xCE\xBB=500\r\n"                // 心理价位
    "\xCC\xE1\xCA\xBE\xB7\xBD\xCA\xBD=\xC6\xF8\xC5\xDD\r\n";  // 提示方式=气泡

TEST(IniTest, AWindowsFileLoadsUnchangedAndARewriteKeepsItsBytes) {
  TempDir dir;
  const auto path = dir / "data.dat";
  WriteBytes(path, kWindowsFile);
  EXPECT_EQ(Join(ListIniSections(path)), "0111090503");
  EXPECT_EQ(ReadIniKey(path, G("0111090503"), "到达城市"_gbk), "成都"_gbk);
  ASSERT_FALSE(WriteIniKey(path, G("0111090503"), "心理价位"_gbk, G("500")));
  EXPECT_EQ(ReadBytes(path), kWindowsFile);
}

TEST(IniTest, AFileChangedBehindTheCacheReadsFresh) {
  TempDir dir;
  const auto path = dir / "data.dat";
  // Same size, same second, written in place: only the bytes tell the versions apart.
  for (int round = 0; round < 50; ++round) {
    const std::string value = std::to_string(round % 10);
    WriteBytes(path, "[a]\r\nk=" + value + "\r\n");
    ASSERT_EQ(ReadIniKey(path, G("a"), G("k")), G(value)) << round;
  }
  std::filesystem::remove(path);
  EXPECT_EQ(ReadIniKey(path, G("a"), G("k")), G(""));
}

TEST(IniTest, AFileThatCannotBeReadIsNeverReplaced) {
  TempDir dir;
  const auto path = dir / "data.dat";
  std::filesystem::create_directory(path);  // exists, but no file can be read there
  EXPECT_TRUE(WriteIniKey(path, G("a"), G("k"), G("1")));
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(IniTest, ConcurrentWritersKeepEachOthersKeys) {
  TempDir dir;
  const auto path = dir / "data.dat";
  constexpr int kThreads = 4;
  constexpr int kKeys = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kKeys; ++k) {
        WriteIniKey(path, G("s" + std::to_string(t)), G("k" + std::to_string(k)),
                    G(std::to_string(t * 100 + k)));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeys; ++k) {
      EXPECT_EQ(ReadIniKey(path, G("s" + std::to_string(t)), G("k" + std::to_string(k))),
                G(std::to_string(t * 100 + k)));
    }
  }
}

TEST(IniTest, BadInputKeepsEveryReadableSection) {
  TempDir dir;
  const auto path = dir / "data.dat";
  std::string bytes = "\xEF\xBB\xBF";  // a UTF-8 mark on a file that is not UTF-8
  bytes += "garbage line\r\n[r1]\r\nk=1\r\n";
  bytes += std::string("\0\x01\x02\xFE\xFF binary\r\n", 14);
  bytes += "[r2]\r\nk=" + std::string(10 * 1024 * 1024, 'x') + "\r\n";
  bytes += "[r3]\r\nk=3\r\n==\r\n[\r\n]\r\n[r4]\nk=4\xB1";  // lone lead byte, no newline
  WriteBytes(path, bytes);
  EXPECT_EQ(Join(ListIniSections(path)), "r1|r2|r3|r4");
  EXPECT_EQ(ReadIniKey(path, G("r3"), G("k")), G("3"));
  EXPECT_EQ(ReadIniKey(path, G("r2"), G("k")).Size(), 10u * 1024 * 1024);
  ASSERT_FALSE(DeleteIniSection(path, G("r3")));
  ASSERT_FALSE(WriteIniKey(path, G("r5"), G("k"), G("5")));
  EXPECT_EQ(Join(ListIniSections(path)), "r1|r2|r4|r5");
  EXPECT_EQ(ReadIniKey(path, G("r1"), G("k")), G("1"));
  EXPECT_EQ(ReadIniKey(path, G("r2"), G("k")).Size(), 10u * 1024 * 1024);
  EXPECT_EQ(ReadIniKey(path, G("r4"), G("k")), G("4?"));
}

}  // namespace
}  // namespace vellora
