#include "search/codecs.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

Text U(const char* utf8) { return Text::FromUtf8(utf8); }
Text G(std::string_view gbk) { return Text::FromGbk(gbk); }

TEST(CodecsTest, UrlEncodeUtf8) {
  struct Case {
    Text text;
    Text encoded;
  };
  const Case cases[] = {
      {U("北京"), G("%E5%8C%97%E4%BA%AC")},
      {G("a-b_c.d"), G("a%2Db%5Fc%2Ed")},
      {G("a b"), G("a b")},
      {G("\t%\r\n"), G("%09%25%0D%0A")},
      {G("AZaz09"), G("AZaz09")},
      {G("`~!@#$^&*()=+[{]};:'\\|,<>/?\""),
       G("%60%7E%21%40%23%24%5E%26%2A%28%29%3D%2B%5B%7B%5D%7D%3B%3A%27%5C%7C%2C%3C%3E%2F%3F%22")},
      {U("青岛 T3"), G("%E9%9D%92%E5%B2%9B T3")},
      {G("a\xB1"), G("a%3F")},  // a lead byte cut off at the end
      {G(""), G("")},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlEncodeUtf8(c.text), c.encoded) << c.text;
}

TEST(CodecsTest, AnsiToUtf8AndBack) {
  EXPECT_EQ(AnsiToUtf8(U("东航MU5138")), "东航MU5138");
  EXPECT_EQ(AnsiToUtf8(G("")), "");
  struct Case {
    const char* name;
    std::string body;
    Text text;
  };
  const Case cases[] = {
      {"empty body", "", G("")},
      {"ends in a Chinese character", "最低价:￥560(经济舱)北京", U("最低价:￥560(经济舱)北京")},
      {"cut at a zero byte", std::string("ab\0cd", 5), G("ab")},
      {"invalid UTF-8 as Windows decodes it", "a\xFF\xE4\xB8z", G("a??z")},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToAnsi(c.body), c.text) << c.name;
}

TEST(CodecsTest, TextBetween) {
  struct Case {
    const char* name;
    Text text;
    Text left;
    Text right;
    Text between;
  };
  const Case cases[] = {
      {"both markers", G("xxAyyBzz"), G("A"), G("B"), G("yy")},
      {"right marker missing", G("xxAyyBzz"), G("A"), G("C"), G("")},
      {"two-byte left marker missing: searched in the whole text", G("xxAyyBzz"), G("AB"), G("B"),
       G("xxAyy")},
      {"longer left marker missing: searched from its length - 1", G("xxAyyBzz"), G("ABC"), G("B"),
       G("xAyy")},
      {"one-byte left marker missing", G("xxAyyBzz"), G("C"), G("B"), G("")},
      {"right marker right after the left", G("xxABzz"), G("A"), G("B"), G("")},
      {"first left, next right after it", G("BAxBAyB"), G("A"), G("B"), G("x")},
      {"left marker at the very end", G("xxA"), G("A"), G("B"), G("")},
      {"empty left marker counts as found at 1", G("xxAyyBzz"), G(""), G("A"), G("xx")},
      {"Chinese markers", U("搜索到 12 个航班"), U("搜索到"), U("个航班"), G(" 12 ")},
      {"right marker never matches a second byte",
       G("A\x81"
         "BxB"),
       G("A"), G("B"),
       G("\x81"
         "Bx")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextBetween(c.text, c.left, c.right), c.between) << c.name;
  }
}

TEST(CodecsTest, DecodeCharRefs) {
  struct Case {
    const char* name;
    Text text;
    Text decoded;
  };
  const Case cases[] = {
      {"airline name", G("&#19996;&#33322;MU5138"), U("东航MU5138")},
      {"semicolon and blanks go", U("07:00;首都 T3"), U("07:00首都T3")},
      {"full-width blank goes", U("首都　T3"), U("首都T3")},
      {"empty", G(""), G("")},
      {"ASCII reference", G("&#65;&#66;"), G("AB")},
      {"character GBK lacks", G("&#3585;x"), G("?x")},
      {"zero reference gives nothing", G("&#0;x"), G("x")},
      {"missing number gives nothing", G("&#;x"), G("x")},
      {"reference after text is read as one, garbled", G("ab&#65"), G("")},
      {"above 65535: four digits, then the rest", G("&#128512;"), G("?0")},
      {"line breaks stay", G("a\r\nb"), G("a\r\nb")},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeCharRefs(c.text), c.decoded) << c.name;
}

TEST(CodecsTest, ToHexDigitsAndEscapes) {
  EXPECT_EQ(ToHexDigits(0), G("0"));
  EXPECT_EQ(ToHexDigits(15), G("F"));
  EXPECT_EQ(ToHexDigits(19996), G("4E1C"));
  EXPECT_EQ(ToHexDigits(0x1F600), G("1F600"));
  EXPECT_EQ(EvalCharEscape(G("\\u4E1C")), U("东"));
  EXPECT_EQ(EvalCharEscape(G("\\u004e")), G("N"));
}

}  // namespace
}  // namespace vellora
