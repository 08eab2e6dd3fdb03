#pragma once

// The text functions between the program's GBK and the travel site's UTF-8.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace vellora {

// Percent-encodes a query value as UTF-8: every two-byte character as the "%XX" of its UTF-8
// bytes, the ASCII characters of the site's escape set as "%XX", everything else unchanged.
Text UrlEncodeUtf8(const Text& text);

// The UTF-8 bytes of a GBK text.
std::string AnsiToUtf8(const Text& text);

// Decodes a UTF-8 page body into GBK, cut at its first NUL character.
Text Utf8ToAnsi(std::string_view body);

// The text between the first `left` and the next `right` after it. When `left` does not
// occur, the search for `right` starts at byte (length of left - 1), and the text in front of
// the `right` found that way is the result; the page parser's loop relies on this.
Text TextBetween(const Text& text, const Text& left, const Text& right);

// Replaces "&#N;" decimal character references with their characters and removes every blank.
Text DecodeCharRefs(const Text& text);

// The character of a "\uXXXX" escape, in GBK.
Text EvalCharEscape(const Text& escape);

// Upper-case hexadecimal digits, no leading zeros.
Text ToHexDigits(std::uint64_t value);

}  // namespace vellora
