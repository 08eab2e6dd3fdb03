#include "search/hosts.h"

#include <cstdlib>

namespace vellora {

namespace {

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-';
}

std::string_view TrimAscii(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return value;
}

}  // namespace

HostSetting HostSettingOf(HostKind kind) {
  switch (kind) {
    case HostKind::kSearch:
      return {"VELLORA_SEARCH_HOST", "m.qunar.com"};
    case HostKind::kBooking:
      return {"VELLORA_BOOKING_HOST", "flight.qunar.com"};
    case HostKind::kHome:
      return {"VELLORA_HOME_HOST", "www.vellora.example.com"};
    case HostKind::kCounter:
      return {"VELLORA_COUNTER_HOST", "count.vellora.example.com"};
  }
  return {"", ""};
}

std::optional<std::string> ParseHostOverride(std::string_view value) {
  value = TrimAscii(value);
  if (value.starts_with("http://")) value.remove_prefix(7);
  if (value.ends_with("/")) value.remove_suffix(1);
  const std::size_t colon = value.find(':');
  const std::string_view host = value.substr(0, colon);
  if (host.empty() || host.front() == '.' || host.front() == '-') return std::nullopt;
  for (char c : host) {
    if (!IsHostChar(c)) return std::nullopt;
  }
  if (colon == std::string_view::npos) return std::string(host);
  const std::string_view port = value.substr(colon + 1);
  if (port.empty() || port.size() > 5) return std::nullopt;
  long number = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number < 1 || number > 65535) return std::nullopt;
  return std::string(host) + ":" + std::to_string(number);
}

Text HostOf(HostKind kind) {
  const HostSetting setting = HostSettingOf(kind);
  // Read on every call so a test may point the program elsewhere between searches.
  if (const char* value = std::getenv(std::string(setting.variable).c_str())) {
    if (std::optional<std::string> host = ParseHostOverride(value)) return Text::FromGbk(*host);
  }
  return Text::FromGbk(setting.default_host);
}

}  // namespace vellora
