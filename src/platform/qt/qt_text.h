#pragma once

// The crossing between the program's GBK text and Qt's UTF-16 strings.

#include <QString>

#include "platform/codepage.h"
#include "platform/text.h"

namespace vellora {

inline QString ToQString(const Text& text) {
  const std::u16string utf16 = Utf16FromGbk(text.Bytes());
  return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

inline Text TextFromQString(const QString& string) {
  return Text::FromGbk(GbkFromUtf16(std::u16string_view(
      reinterpret_cast<const char16_t*>(string.utf16()), static_cast<std::size_t>(string.size()))));
}

}  // namespace vellora
