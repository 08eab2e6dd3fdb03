#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

namespace vellora {
namespace {

constexpr char16_t kUnmapped = 0;
constexpr char16_t kReplacement = 0xFFFD;

// Both directions of code page 936 for the Basic Multilingual Plane. Two-byte codes are
// indexed by lead << 8 | trail; single bytes 0x00-0x7F are ASCII and 0x80 is the euro sign.
struct Cp936Tables {
  std::array<char16_t, 65536> from_gbk{};     // two-byte code -> UTF-16 unit, 0 = none
  std::array<std::uint16_t, 65536> to_gbk{};  // UTF-16 unit -> code (< 0x100: one byte)
  std::array<bool, 65536> to_gbk_known{};
};

// Converts two bytes with a fresh conversion state; returns the number of output bytes (up to
// two) written to `out`, or 0 when the input does not convert.
std::size_t ConvertTwoBytes(iconv_t cd, char first, char second, unsigned char out[2]) {
  char in[2] = {first, second};
  char buffer[8];
  char* in_ptr = in;
  char* out_ptr = buffer;
  std::size_t in_left = 2;
  std::size_t out_left = sizeof(buffer);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1) ||
      in_left != 0) {
    return 0;
  }
  const std::size_t produced = sizeof(buffer) - out_left;
  if (produced > 2) return 0;
  std::copy_n(buffer, produced, out);
  return produced;
}

char16_t ConvertPairWithIconv(iconv_t cd, unsigned char lead, unsigned char trail) {
  unsigned char out[2];
  if (ConvertTwoBytes(cd, static_cast<char>(lead), static_cast<char>(trail), out) != 2) {
    return kUnmapped;
  }
  return static_cast<char16_t>(out[0] | out[1] << 8);  // UTF-16LE
}

std::uint16_t ConvertUnitWithIconv(iconv_t cd, char16_t unit, bool& ok) {
  unsigned char out[2];
  const std::size_t produced =
      ConvertTwoBytes(cd, static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8), out);
  ok = produced != 0;
  if (produced == 1) return out[0];
  return static_cast<std::uint16_t>(out[0] << 8 | out[1]);
}

// Windows maps GBK's three user-defined areas to the Private Use Area; glibc leaves them out.
void AddUserDefinedAreas(Cp936Tables& t) {
  char16_t unit = 0xE000;
  auto add = [&](unsigned lead_first, unsigned lead_last, bool low_trails) {
    for (unsigned lead = lead_first; lead <= lead_last; ++lead) {
      for (unsigned trail = low_trails ? 0x40 : 0xA1; trail <= (low_trails ? 0xA0u : 0xFEu);
           ++trail) {
        if (trail == 0x7F) continue;
        const unsigned code = lead << 8 | trail;
        if (t.from_gbk[code] == kUnmapped && !t.to_gbk_known[unit]) {
          t.from_gbk[code] = unit;
          t.to_gbk[unit] = static_cast<std::uint16_t>(code);
          t.to_gbk_known[unit] = true;
        }
        ++unit;
      }
    }
  };
  add(0xAA, 0xAF, false);
  add(0xF8, 0xFE, false);
  add(0xA1, 0xA7, true);
}

std::unique_ptr<Cp936Tables> BuildTables() {
  auto t = std::make_unique<Cp936Tables>();
  for (unsigned c = 0; c < 0x80; ++c) {
    t->to_gbk[c] = static_cast<std::uint16_t>(c);
    t->to_gbk_known[c] = true;
  }
  t->to_gbk[0x20AC] = 0x80;
  t->to_gbk_known[0x20AC] = true;

  iconv_t decode = iconv_open("UTF-16LE", "CP936");
  iconv_t encode = iconv_open("CP936", "UTF-16LE");
  if (decode != reinterpret_cast<iconv_t>(-1)) {
    std::array<int, 65536> seen{};  // how many two-byte codes decode to each unit
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const char16_t unit = ConvertPairWithIconv(decode, static_cast<unsigned char>(lead),
                                                   static_cast<unsigned char>(trail));
        if (unit == kUnmapped) continue;
        const unsigned code = lead << 8 | trail;
        t->from_gbk[code] = unit;
        if (seen[unit]++ == 0 && !t->to_gbk_known[unit]) {
          t->to_gbk[unit] = static_cast<std::uint16_t>(code);
          t->to_gbk_known[unit] = true;
        }
      }
    }
    // Where several codes decode to one character, the encoder decides which one it gets.
    if (encode != reinterpret_cast<iconv_t>(-1)) {
      for (unsigned unit = 0x80; unit < 0x10000; ++unit) {
        if (seen[unit] < 2) continue;
        bool ok = false;
        const std::uint16_t code = ConvertUnitWithIconv(encode, static_cast<char16_t>(unit), ok);
        if (ok) t->to_gbk[unit] = code;
      }
    }
    iconv_close(decode);
  }
  if (encode != reinterpret_cast<iconv_t>(-1)) iconv_close(encode);
  AddUserDefinedAreas(*t);
  return t;
}

const Cp936Tables& Tables() {
  static const std::unique_ptr<Cp936Tables> tables = BuildTables();
  return *tables;
}

bool IsCp936Lead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// Calls sink(unit) for each UTF-16 unit of a GBK text. A lead byte without a valid trail, a
// pair that maps to nothing and the byte 0xFF each give '?'.
template <typename Sink>
void DecodeGbk(std::string_view gbk, Sink&& sink) {
  const Cp936Tables& t = Tables();
  const auto* bytes = reinterpret_cast<const unsigned char*>(gbk.data());
  const std::size_t size = gbk.size();
  for (std::size_t i = 0; i < size;) {
    const unsigned char byte = bytes[i];
    if (byte < 0x80) {
      sink(static_cast<char16_t>(byte));
      ++i;
    } else if (byte == 0x80) {
      sink(u'\u20AC');
      ++i;
    } else if (IsCp936Lead(byte) && i + 1 < size && bytes[i + 1] >= 0x40 && bytes[i + 1] != 0x7F &&
               bytes[i + 1] != 0xFF) {
      const char16_t unit = t.from_gbk[byte << 8 | bytes[i + 1]];
      sink(unit == kUnmapped ? u'?' : unit);
      i += 2;
    } else {
      sink(u'?');
      ++i;
    }
  }
}

void AppendGbk(std::string& out, char32_t code_point) {
  const Cp936Tables& t = Tables();
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
    return;
  }
  if (code_point >= 0x10000 || !t.to_gbk_known[code_point]) {
    out.push_back('?');
    return;
  }
  const std::uint16_t code = t.to_gbk[code_point];
  if (code < 0x100) {
    out.push_back(static_cast<char>(code));
  } else {
    out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 character at bytes[i]; returns its code point and advances i. An
// ill-formed sequence gives U+FFFD for its maximal well-formed prefix (at least one byte),
// as Windows' converter does.
char32_t DecodeUtf8At(const unsigned char* bytes, std::size_t size, std::size_t& i) {
  const unsigned char b0 = bytes[i];
  int length;
  char32_t cp;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (b0 < 0x80) {
    ++i;
    return b0;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    ++i;
    return kReplacement;
  }
  std::size_t j = i + 1;
  for (int k = 1; k < length; ++k, ++j) {
    if (j >= size) {
      i = j;
      return kReplacement;
    }
    const unsigned char b = bytes[j];
    const unsigned char lo = k == 1 ? low : 0x80;
    const unsigned char hi = k == 1 ? high : 0xBF;
    if (b < lo || b > hi) {
      i = j;
      return kReplacement;
    }
    cp = cp << 6 | (b & 0x3F);
  }
  i = j;
  return cp;
}

}  // namespace

std::string Utf8FromGbk(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() + gbk.size() / 2);
  DecodeGbk(gbk, [&](char16_t unit) { AppendUtf8(out, unit); });
  return out;
}

std::u16string Utf16FromGbk(std::string_view gbk) {
  std::u16string out;
  out.reserve(gbk.size());
  DecodeGbk(gbk, [&](char16_t unit) { out.push_back(unit); });
  return out;
}

std::string GbkFromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  std::size_t i = 0;
  while (i < size) {
    // Pages are mostly ASCII markup: copy runs of it in one go.
    std::size_t run = i;
    while (run < size && bytes[run] < 0x80) ++run;
    if (run > i) {
      out.append(utf8.data() + i, run - i);
      i = run;
      if (i == size) break;
    }
    AppendGbk(out, DecodeUtf8At(bytes, size, i));
  }
  return out;
}

std::string GbkFromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 2);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      ++i;  // a character beyond the BMP: GBK has none of them
      out.push_back('?');
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out.push_back('?');
    } else {
      AppendGbk(out, unit);
    }
  }
  return out;
}

}  // namespace vellora
