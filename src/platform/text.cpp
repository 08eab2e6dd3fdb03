#include "platform/text.h"

#include <cmath>
#include <limits>
#include <ostream>

#include "platform/codepage.h"

namespace vellora {

Text Text::FromUtf8(std::string_view utf8) { return Text(GbkFromUtf8(utf8)); }

std::string Text::ToUtf8() const { return Utf8FromGbk(bytes_); }

std::ostream& operator<<(std::ostream& out, const Text& text) { return out << text.ToUtf8(); }

namespace {

constexpr unsigned char kFullWidthLead = 0xA1;   // GBK A1 A1 is the full-width space,
constexpr unsigned char kFullWidthSpace = 0xA1;  // A3 B0..A3 B9 the full-width digits.

// Length in bytes of the character that starts at index i.
std::size_t CharLength(const std::string& bytes, std::size_t i) {
  return IsLeadByte(static_cast<unsigned char>(bytes[i])) && i + 1 < bytes.size() ? 2 : 1;
}

// Length of the blank at index i (a character boundary), or 0.
std::size_t BlankLength(const std::string& bytes, std::size_t i) {
  if (bytes[i] == ' ') return 1;
  if (i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i]) == kFullWidthLead &&
      static_cast<unsigned char>(bytes[i + 1]) == kFullWidthSpace) {
    return 2;
  }
  return 0;
}

}  // namespace

namespace {

// 0-based index of the first occurrence of `wanted` that starts on a character boundary at or
// after `boundary` (itself a boundary), or npos. Linear: the walk over character boundaries
// only ever moves forward.
std::size_t FindFromBoundary(const std::string& bytes, const std::string& wanted,
                             std::size_t boundary) {
  if (wanted.empty()) return boundary < bytes.size() ? boundary : std::string::npos;
  std::size_t walk = boundary;
  std::size_t search = boundary;
  for (;;) {
    const std::size_t candidate = bytes.find(wanted, search);
    if (candidate == std::string::npos) return candidate;
    while (walk < candidate) walk += CharLength(bytes, walk);
    if (walk == candidate) return candidate;
    search = candidate + 1;  // it started on a second byte
  }
}

// The first character boundary at or after 0-based index `index`.
std::size_t BoundaryAtOrAfter(const std::string& bytes, std::size_t index) {
  std::size_t i = 0;
  while (i < index) i += CharLength(bytes, i);
  return i;
}

// The index of the first character at or after `i` that is not a blank.
std::size_t SkipBlanks(const std::string& bytes, std::size_t i) {
  while (i < bytes.size()) {
    const std::size_t blank = BlankLength(bytes, i);
    if (blank == 0) break;
    i += blank;
  }
  return i;
}

}  // namespace

std::int64_t FindText(const Text& text, const Text& needle, std::int64_t from) {
  const std::string& bytes = text.Bytes();
  if (from < 1) from = 1;
  if (from > static_cast<std::int64_t>(bytes.size())) return -1;
  const std::size_t start = BoundaryAtOrAfter(bytes, static_cast<std::size_t>(from - 1));
  const std::size_t found = FindFromBoundary(bytes, needle.Bytes(), start);
  return found == std::string::npos ? -1 : static_cast<std::int64_t>(found) + 1;
}

Text LeftBytes(const Text& text, std::int64_t count) {
  if (count <= 0) return Text();
  return Text::FromGbk(std::string_view(text.Bytes()).substr(0, static_cast<std::size_t>(count)));
}

Text RightBytes(const Text& text, std::int64_t count) {
  if (count <= 0) return Text();
  const std::size_t size = text.Size();
  const std::size_t n = std::min(size, static_cast<std::size_t>(count));
  return Text::FromGbk(std::string_view(text.Bytes()).substr(size - n));
}

Text MidBytes(const Text& text, std::int64_t start, std::int64_t count) {
  if (start < 1 || count <= 0 || start > static_cast<std::int64_t>(text.Size())) return Text();
  return Text::FromGbk(
      std::string_view(text.Bytes())
          .substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

Text TrimBlanks(const Text& text) {
  const std::string& bytes = text.Bytes();
  const std::size_t begin = SkipBlanks(bytes, 0);
  // The end of the last character that is not a blank; found walking forward, because a
  // trailing A1 A1 might be the tail of another two-byte character.
  std::size_t end = begin;
  for (std::size_t i = begin; i < bytes.size();) {
    const std::size_t blank = BlankLength(bytes, i);
    const std::size_t length = blank != 0 ? blank : CharLength(bytes, i);
    i += length;
    if (blank == 0) end = i;
  }
  return Text::FromGbk(std::string_view(bytes).substr(begin, end - begin));
}

Text RemoveBlanks(const Text& text) {
  const std::string& bytes = text.Bytes();
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t blank = BlankLength(bytes, i);
    if (blank != 0) {
      i += blank;
      continue;
    }
    const std::size_t length = CharLength(bytes, i);
    out.append(bytes, i, length);
    i += length;
  }
  return Text::FromGbk(std::move(out));
}

std::vector<Text> SplitText(const Text& text, const Text& separator) {
  std::vector<Text> pieces;
  if (text.Empty()) return pieces;
  if (separator.Empty()) {
    pieces.push_back(text);
    return pieces;
  }
  const std::string& bytes = text.Bytes();
  const std::string& wanted = separator.Bytes();
  std::size_t from = 0;
  while (from < bytes.size()) {
    const std::size_t at = FindFromBoundary(bytes, wanted, from);
    if (at == std::string::npos) break;
    pieces.push_back(Text::FromGbk(std::string_view(bytes).substr(from, at - from)));
    from = at + wanted.size();
  }
  if (from < bytes.size()) pieces.push_back(Text::FromGbk(std::string_view(bytes).substr(from)));
  return pieces;
}

namespace {

// The text with full-width ASCII forms (GBK A3 A1 .. A3 FE) made half-width, up to the first
// character that can no longer belong to a number.
std::string HalfWidthPrefix(const std::string& bytes, std::size_t begin) {
  std::string out;
  for (std::size_t i = begin; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte == 0xA3 && i + 1 < bytes.size()) {
      const auto trail = static_cast<unsigned char>(bytes[i + 1]);
      if (trail >= 0xA1 && trail <= 0xFE) {
        out.push_back(static_cast<char>(trail - 0x80));
        i += 2;
        continue;
      }
    }
    if (IsLeadByte(byte)) break;
    out.push_back(static_cast<char>(byte));
    ++i;
    if (out.size() > 400) break;  // no number is longer; keeps a 10 MB value cheap
  }
  return out;
}

}  // namespace

double TextToNumber(const Text& text) {
  const std::string& bytes = text.Bytes();
  const std::size_t i = SkipBlanks(bytes, 0);
  const std::string s = HalfWidthPrefix(bytes, i);
  std::size_t p = 0;
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
  double value = 0;
  bool any_digit = false;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
    value = value * 10 + (s[p++] - '0');
    any_digit = true;
  }
  if (p < s.size() && s[p] == '.') {
    ++p;
    double scale = 0.1;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
      value += (s[p++] - '0') * scale;
      scale /= 10;
      any_digit = true;
    }
  }
  if (!any_digit) return 0;
  return negative ? -value : value;
}

std::int32_t TextToInt(const Text& text) {
  const double value = std::trunc(TextToNumber(text));
  if (!(value > std::numeric_limits<std::int32_t>::min()))
    return std::numeric_limits<std::int32_t>::min();
  if (value >= std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value);
}

Text IntegerText(std::int64_t value) { return Text::FromGbk(std::to_string(value)); }

}  // namespace vellora
