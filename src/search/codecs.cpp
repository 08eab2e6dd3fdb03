#include "search/codecs.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/codepage.h"

namespace vellora {
namespace {

// ASCII characters that the travel site wants percent-encoded in query values; letters,
// digits and the space stay as they are.
constexpr std::string_view kEscapeSet = "`~!@#$%^&*()-_=+[{]};:'\\|,<.>/?\"\r\n\t";

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendPercent(std::string& out, unsigned char byte) {
  out.push_back('%');
  out.push_back(kHexDigits[byte >> 4]);
  out.push_back(kHexDigits[byte & 0x0F]);
}

}  // namespace

Text UrlEncodeUtf8(const Text& text) {
  const std::string& bytes = text.Bytes();
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (IsLeadByte(byte)) {
      // A lead byte cut off at the end converts alone (to "?").
      const std::size_t length = i + 1 < bytes.size() ? 2 : 1;
      for (unsigned char utf8 : Utf8FromGbk(std::string_view(bytes).substr(i, length))) {
        AppendPercent(out, utf8);
      }
      i += length;
    } else {
      if (kEscapeSet.find(static_cast<char>(byte)) != std::string_view::npos) {
        AppendPercent(out, byte);
      } else {
        out.push_back(static_cast<char>(byte));
      }
      ++i;
    }
  }
  return Text::FromGbk(std::move(out));
}

std::string AnsiToUtf8(const Text& text) { return Utf8FromGbk(text.Bytes()); }

Text Utf8ToAnsi(std::string_view body) {
  // A zero byte is only ever U+0000 in UTF-8, and the page text ends at the first one.
  const void* nul = std::memchr(body.data(), 0, body.size());
  if (nul != nullptr) body = body.substr(0, static_cast<const char*>(nul) - body.data());
  return Text::FromGbk(GbkFromUtf8(body));
}

Text TextBetween(const Text& text, const Text& left, const Text& right) {
  const std::int64_t p = FindText(text, left);
  const std::int64_t start = p + static_cast<std::int64_t>(left.Size());
  const auto size = static_cast<std::int64_t>(text.Size());
  if (start < 1 || start > size) return Text();
  const Text rest = MidBytes(text, start, size - start + 1);
  const std::int64_t q = FindText(rest, right);
  if (q == -1 || q == 1) return Text();
  return LeftBytes(rest, q - 1);
}

Text DecodeCharRefs(const Text& text) {
  static const Text semicolon = Text::FromGbk(";");
  static const Text reference = Text::FromGbk("&#");
  Text out;
  for (const Text& piece : SplitText(text, semicolon)) {
    if (piece.Empty()) continue;
    if (FindText(piece, reference) == -1) {
      out += piece;
      continue;
    }
    const double number = std::trunc(TextToNumber(MidBytes(piece, 3, piece.Size())));
    const std::uint64_t code = number > 0 && number < 1e18 ? static_cast<std::uint64_t>(number) : 0;
    Text digits = ToHexDigits(code);
    if (digits.Size() < 4) digits = Text::FromGbk(std::string(4 - digits.Size(), '0')) + digits;
    out += EvalCharEscape(Text::FromGbk("\\u") + digits);
  }
  return RemoveBlanks(out);
}

Text EvalCharEscape(const Text& escape) {
  // The escape as a script string literal would read: "\u" and four hexadecimal digits make
  // one UTF-16 unit, any further characters stand for themselves. The text ends at U+0000.
  const std::string& s = escape.Bytes();
  std::u16string units;
  std::size_t i = 0;
  if (s.size() >= 6 && s[0] == '\\' && s[1] == 'u') {
    char16_t unit = 0;
    bool hex = true;
    for (std::size_t k = 2; k < 6 && hex; ++k) {
      const char c = s[k];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : -1;
      hex = digit >= 0;
      unit = static_cast<char16_t>(unit << 4 | (digit & 0x0F));
    }
    if (hex) {
      if (unit == 0) return Text();
      units.push_back(unit);
      i = 6;
    }
  }
  std::string out = GbkFromUtf16(units);
  out.append(s, i, std::string::npos);
  return Text::FromGbk(std::move(out));
}

Text ToHexDigits(std::uint64_t value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), kHexDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  return Text::FromGbk(std::move(digits));
}

}  // namespace vellora
