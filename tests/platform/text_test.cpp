#include "platform/text.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

Text U(const char* utf8) { return Text::FromUtf8(utf8); }
Text G(std::string_view gbk) { return Text::FromGbk(gbk); }

TEST(TextTest, LiteralsAreGbkAndConvertedOnce) {
  EXPECT_EQ("北京"_gbk.Bytes(), "\xB1\xB1\xBE\xA9");
  EXPECT_EQ(&"北京"_gbk, &"北京"_gbk);
  EXPECT_EQ("北京"_gbk.ToUtf8(), "北京");
}

struct FindCase {
  const char* name;
  Text text;
  Text needle;
  std::int64_t from;
  std::int64_t expected;
};

TEST(TextTest, FindText) {
  const FindCase cases[] = {
      {"first match, 1-based", G("xxAyyAzz"), G("A"), 1, 3},
      {"from a later position", G("xxAyyAzz"), G("A"), 4, 6},
      {"not found", G("xxAyy"), G("B"), 1, -1},
      {"needle longer than text", G("ab"), G("abc"), 1, -1},
      {"from beyond the end", G("abc"), G("c"), 4, -1},
      {"never on a second byte",
       G("\x81"
         "A"
         "A"),
       G("A"), 1, 3},
      {"second byte ']' is no bracket", G("\x81]]"), G("]"), 1, 3},
      {"two-byte needle on a boundary", U("东航北京"), U("北京"), 1, 5},
      {"two-byte needle across characters", G("\xB1\xB1\xBE\xA9"), G("\xB1\xBE"), 1, -1},
      {"from inside a character moves to the next", U("北京A"), G("A"), 2, 5},
      {"empty needle in a text", G("abc"), G(""), 1, 1},
      {"empty needle in the empty text", G(""), G(""), 1, -1},
      {"case-sensitive", G("abc"), G("B"), 1, -1},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(FindText(c.text, c.needle, c.from), c.expected) << c.name;
  }
}

TEST(TextTest, TrimAndRemoveBlanks) {
  struct Case {
    const char* name;
    Text text;
    Text trimmed;
    Text removed;
  };
  const Case cases[] = {
      {"ASCII spaces", G("  a b  "), G("a b"), G("ab")},
      {"full-width spaces", U("　北　京　"), U("北　京"), U("北京")},
      {"tabs and line breaks stay", G("\ta \r\n"), G("\ta \r\n"), G("\ta\r\n")},
      {"A1 A1 inside two characters is no space", G("\xB0\xA1\xA1\xB0"), G("\xB0\xA1\xA1\xB0"),
       G("\xB0\xA1\xA1\xB0")},
      {"only blanks", U(" 　 "), G(""), G("")},
      {"empty", G(""), G(""), G("")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrimBlanks(c.text), c.trimmed) << c.name;
    EXPECT_EQ(RemoveBlanks(c.text), c.removed) << c.name;
  }
}

TEST(TextTest, SplitText) {
  struct Case {
    const char* name;
    Text text;
    Text separator;
    std::vector<Text> pieces;
  };
  const Case cases[] = {
      {"plain", G("a*b*c"), G("*"), {G("a"), G("b"), G("c")}},
      {"empty text has no pieces", G(""), G("*"), {}},
      {"leading separator gives an empty first piece", G("*a"), G("*"), {G(""), G("a")}},
      {"adjacent separators give an empty piece", G("a**b"), G("*"), {G("a"), G(""), G("b")}},
      {"trailing separator adds no empty piece", G("a*b*"), G("*"), {G("a"), G("b")}},
      {"only a separator", G("*"), G("*"), {G("")}},
      {"no separator", G("abc"), G(","), {G("abc")}},
      {"CR LF", G("a\r\nb\r\n"), G("\r\n"), {G("a"), G("b")}},
      {"multi-byte separator", U("x报价(查看)y报价(查看)"), U("报价(查看)"), {U("x"), U("y")}},
      {"separator byte inside a character is not split",
       G("\x81*a*b"),
       G("*"),
       {G("\x81*a"), G("b")}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitText(c.text, c.separator), c.pieces) << c.name;
  }
}

TEST(TextTest, TextToNumber) {
  struct Case {
    const char* name;
    Text text;
    double number;
    std::int32_t integer;
  };
  const Case cases[] = {
      {"integer", G("5"), 5, 5},
      {"fraction", G("2.9"), 2.9, 2},
      {"leading blanks", U(" 　10"), 10, 10},
      {"full-width digits and point", U("１２．５"), 12.5, 12},
      {"negative", G("-3"), -3, -3},
      {"negative fraction drops toward zero", G("-2.7"), -2.7, -2},
      {"trailing text ignored", G("560(rmb)"), 560, 560},
      {"no number", G("abc"), 0, 0},
      {"empty", G(""), 0, 0},
      {"sign alone", G("-"), 0, 0},
      {"point then digits", G(".5"), 0.5, 0},
      {"beyond 32 bits saturates", G("99999999999"), 99999999999.0, 2147483647},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(TextToNumber(c.text), c.number) << c.name;
    EXPECT_EQ(TextToInt(c.text), c.integer) << c.name;
  }
}

TEST(TextTest, BytePieces) {
  EXPECT_EQ(RightBytes(G("0011"), 2), G("11"));
  EXPECT_EQ(RightBytes(G("1"), 2), G("1"));
  EXPECT_EQ(LeftBytes(G("abc"), 5), G("abc"));
  EXPECT_EQ(MidBytes(G("abcdef"), 2, 3), G("bcd"));
  EXPECT_EQ(MidBytes(G("abc"), 0, 2), G(""));
  EXPECT_EQ(MidBytes(G("abc"), 3, 9), G("c"));
}

}  // namespace
}  // namespace vellora
