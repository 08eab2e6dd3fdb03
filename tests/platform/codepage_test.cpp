#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

TEST(CodepageTest, GbkFromUtf8) {
  struct Case {
    const char* name;
    std::string utf8;
    std::string gbk;
  };
  const Case cases[] = {
      {"ASCII", "MU5138 07:00", "MU5138 07:00"},
      {"Chinese", "北京东航", "\xB1\xB1\xBE\xA9\xB6\xAB\xBA\xBD"},
      {"Windows forms of code page 936", "€·—", "\x80\xA1\xA4\xA1\xAA"},
      {"full-width yen and space", "￥　", "\xA3\xA4\xA1\xA1"},
      {"a character GBK lacks", "a\xE0\xB8\x81z", "a?z"},  // Thai ko kai
      {"beyond the BMP is one '?'", "a\xF0\x9F\x98\x80z", "a?z"},
      {"lone continuation byte", "a\x80z", "a?z"},
      {"truncated sequence at the end", "a\xE4\xB8", "a?"},
      {"truncated sequence before ASCII", "\xE4\xB8z", "?z"},
      {"overlong form", "\xC0\xAFz", "??z"},
      {"encoded surrogate", "\xED\xA0\x80z", "???z"},
      {"private use area (user-defined GBK)", "\xEE\x80\x80", "\xAA\xA1"},
      {"NUL kept", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(GbkFromUtf8(c.utf8), c.gbk) << c.name;
}

TEST(CodepageTest, Utf8FromGbk) {
  struct Case {
    const char* name;
    std::string gbk;
    std::string utf8;
  };
  const Case cases[] = {
      {"Chinese", "\xB1\xB1\xBE\xA9", "北京"},
      {"euro", "\x80", "€"},
      {"second byte ']'", "\x81\x5D", "乚"},  // U+4E5A
      {"lone lead byte at the end", "a\xB1", "a?"},
      {"lead byte before a byte that is no second byte", "\xB1 x", "? x"},
      {"0xFF", "\xFF", "?"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8FromGbk(c.gbk), c.utf8) << c.name;
}

TEST(CodepageTest, EveryGbkCharacterSurvivesTheRoundTripThroughUtf16) {
  int mapped = 0;
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
      const std::u16string utf16 = Utf16FromGbk(gbk);
      ASSERT_EQ(utf16.size(), 1u);
      if (utf16 == u"?") continue;
      ++mapped;
      const std::string back = GbkFromUtf16(utf16);
      // A few characters have two codes; the second decodes to the first one's character.
      EXPECT_EQ(Utf16FromGbk(back), utf16) << std::hex << lead << trail;
    }
  }
  EXPECT_GT(mapped, 21000);
}

TEST(CodepageTest, Utf16LoneSurrogatesAreQuestionMarks) {
  EXPECT_EQ(GbkFromUtf16(u"a\xD800z"), "a?z");
  EXPECT_EQ(GbkFromUtf16(u"a\xDC00z"), "a?z");
}

}  // namespace
}  // namespace vellora
