#pragma once

// Conversions between GBK (Windows code page 936), UTF-16 and UTF-8, giving the results of
// Windows' own converters: a character GBK cannot hold becomes '?', an ill-formed UTF-8
// sequence becomes U+FFFD (and so '?' in GBK), a GBK byte pair that maps to nothing becomes
// '?'. Tables come from glibc's iconv (CP936) and are built once per process.

#include <string>
#include <string_view>

namespace vellora {

std::string Utf8FromGbk(std::string_view gbk);
std::string GbkFromUtf8(std::string_view utf8);
std::u16string Utf16FromGbk(std::string_view gbk);
std::string GbkFromUtf16(std::u16string_view utf16);

}  // namespace vellora
