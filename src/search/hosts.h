#pragma once

// The outside servers the program talks to. Each has its real host as the default and can be
// pointed elsewhere (the sample site on loopback, for tests and the demo) through an
// environment variable holding "host" or "host:port".

#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace vellora {

enum class HostKind {
  kSearch,   // the travel site's mobile search, /search.action
  kBooking,  // the travel site's booking pages, /site/oneway_list.htm
  kHome,     // the publisher's home server: notice, friend links, home page
  kCounter,  // the hit-counter service, /count2/count.asp
};

struct HostSetting {
  std::string_view variable;      // e.g. "VELLORA_SEARCH_HOST"
  std::string_view default_host;  // the real server
};

HostSetting HostSettingOf(HostKind kind);

// The host to use, with ":port" when the override names one. An override that is unset, empty
// or not a plain host[:port] is ignored: the value goes into request lines and header text,
// so nothing but host-name characters and a port may pass.
Text HostOf(HostKind kind);

inline Text SearchHost() { return HostOf(HostKind::kSearch); }
inline Text BookingHost() { return HostOf(HostKind::kBooking); }
inline Text HomeHost() { return HostOf(HostKind::kHome); }
inline Text CounterHost() { return HostOf(HostKind::kCounter); }

// "host" or "host:port" (port 1 to 65535) from an override value; surrounding blanks, an
// "http://" in front and a "/" at the end are forgiven. Nothing when the value is not usable.
std::optional<std::string> ParseHostOverride(std::string_view value);

}  // namespace vellora
