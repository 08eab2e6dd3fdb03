#pragma once

// Text is what the user sees and stores: bytes in the ANSI code page of a Chinese Windows
// (GBK). ASCII characters take one byte, Chinese characters two, the first of which is 0x80
// or above. It is a type of its own so that a UTF-8 std::string or a QString can never be
// passed where GBK is expected; conversions happen at the edges and say which way they go.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vellora {

class Text {
 public:
  Text() = default;

  // Wraps bytes that already are GBK (read from a GBK file, produced by a conversion).
  static Text FromGbk(std::string_view gbk) { return Text(std::string(gbk)); }
  static Text FromGbk(std::string&& gbk) { return Text(std::move(gbk)); }
  static Text FromGbk(const char* gbk) { return Text(std::string(gbk)); }
  // Converts UTF-8 to GBK; what GBK cannot hold becomes '?'.
  static Text FromUtf8(std::string_view utf8);

  const std::string& Bytes() const { return bytes_; }
  std::string ToUtf8() const;

  std::size_t Size() const { return bytes_.size(); }
  bool Empty() const { return bytes_.empty(); }
  // The byte at a 0-based index.
  unsigned char Byte(std::size_t index) const { return static_cast<unsigned char>(bytes_[index]); }

  Text& operator+=(const Text& other) {
    bytes_ += other.bytes_;
    return *this;
  }
  friend Text operator+(Text left, const Text& right) { return left += right; }
  friend bool operator==(const Text&, const Text&) = default;
  friend auto operator<=>(const Text&, const Text&) = default;

 private:
  explicit Text(std::string bytes) : bytes_(std::move(bytes)) {}
  std::string bytes_;
};

// Shows the text as UTF-8, so test failures and debug output are readable.
std::ostream& operator<<(std::ostream& out, const Text& text);

namespace detail {
template <std::size_t N>
struct Utf8Literal {
  constexpr Utf8Literal(const char (&chars)[N]) { std::copy_n(chars, N, this->chars); }
  char chars[N];
};
}  // namespace detail

// "出发城市"_gbk: a UTF-8 source literal, converted to GBK once, on first use.
template <detail::Utf8Literal kLiteral>
const Text& operator""_gbk() {
  static const Text text =
      Text::FromUtf8(std::string_view(kLiteral.chars, sizeof(kLiteral.chars) - 1));
  return text;
}

// A byte that starts a two-byte character.
constexpr bool IsLeadByte(unsigned char byte) { return byte >= 0x80; }

// 1-based byte position of the first occurrence of `needle` at or after byte position `from`,
// or -1. Matches start on character boundaries only (counted from the start of the text), so
// a needle never matches at the second byte of a two-byte character. An empty needle is found
// at `from` when that lies inside the text.
std::int64_t FindText(const Text& text, const Text& needle, std::int64_t from = 1);

// Byte-wise pieces: the first n bytes, the last n bytes, n bytes from 1-based position start.
// Out-of-range arguments are clipped; they never fail.
Text LeftBytes(const Text& text, std::int64_t count);
Text RightBytes(const Text& text, std::int64_t count);
Text MidBytes(const Text& text, std::int64_t start, std::int64_t count);

// Blanks are the ASCII space and the full-width space (GBK A1 A1); tabs and line breaks are not.
Text TrimBlanks(const Text& text);
Text RemoveBlanks(const Text& text);

// The pieces of `text` between separators, in order. An empty text has no pieces; a separator
// at the very start gives an empty first piece, two adjacent separators an empty piece, and a
// separator at the very end no empty last piece. An empty separator gives the whole text.
std::vector<Text> SplitText(const Text& text, const Text& separator);

// The leading decimal number (sign and fraction included) after leading blanks; full-width
// digits, sign and point count as their half-width forms. 0 when the text starts with no number.
double TextToNumber(const Text& text);
// TextToNumber with the fraction dropped toward zero, saturated to the 32-bit range.
std::int32_t TextToInt(const Text& text);

// Decimal digits of an integer, with a leading '-' when negative.
Text IntegerText(std::int64_t value);

}  // namespace vellora
