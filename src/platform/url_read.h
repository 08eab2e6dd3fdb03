#pragma once

// Reading a whole resource with one plain GET, for the side panels' small text files.

#include <chrono>
#include <cstddef>
#include <string>

#include "platform/text.h"

namespace vellora {

struct UrlReadLimits {
  // A longer body is not read at all: a server must not fill our memory.
  std::size_t max_body_bytes = 16 * 1024 * 1024;
  // A server that sends nothing for this long is given up, so side threads that nobody joins
  // cannot pile up behind a stalled server.
  std::chrono::seconds stall = std::chrono::seconds(60);
};

// GETs "http://host[:port]/path" (the scheme may be left out) as an HTTP/1.0 request with
// "Accept: */*", following redirects, and returns the body whatever the status code. Empty
// bytes when no connection or request can be made, the transfer fails or the body is over the
// limit. Callable from any thread.
std::string ReadUrl(const Text& url, const UrlReadLimits& limits = {});

}  // namespace vellora
