#include "platform/url_read.h"

#include <charconv>
#include <string_view>

#include "platform/internet.h"

namespace vellora {
namespace {

struct UrlTarget {
  std::string host;
  int port = 80;
  std::string path = "/";
};

std::optional<UrlTarget> ParseHttpUrl(std::string_view url) {
  if (const auto scheme = url.find("://"); scheme != std::string_view::npos) {
    std::string name(url.substr(0, scheme));
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name != "http") return std::nullopt;
    url.remove_prefix(scheme + 3);
  }
  UrlTarget target;
  const std::size_t host_end = std::min(url.find_first_of("/?#"), url.size());
  std::string_view host = url.substr(0, host_end);
  if (const auto colon = host.find(':'); colon != std::string_view::npos) {
    const std::string_view port = host.substr(colon + 1);
    host = host.substr(0, colon);
    if (!port.empty()) {
      const auto [end, error] =
          std::from_chars(port.data(), port.data() + port.size(), target.port);
      if (error != std::errc() || end != port.data() + port.size()) return std::nullopt;
    }
  }
  target.host = std::string(host);
  std::string_view path = url.substr(host_end);
  if (!path.starts_with('/')) {
    target.path += path;  // "host?query"
  } else {
    target.path = std::string(path);
  }
  return target;
}

}  // namespace

std::string ReadUrl(const Text& url, const UrlReadLimits& limits) {
  const std::optional<UrlTarget> target = ParseHttpUrl(url.Bytes());
  if (!target) return {};
  const InternetSession session{Text(), Text()};
  const InternetConnection connection(session, Text::FromGbk(target->host), target->port, Text(),
                                      Text());
  InternetRequest request(connection, Text::FromGbk("GET"), Text::FromGbk(target->path),
                          HttpVersion::k1_0);
  request.SetStallLimit(limits.stall);
  if (!request.Send(Text::FromGbk("Accept: */*\r\n"), {})) return {};
  std::string body;
  char block[16 * 1024];
  for (;;) {
    const std::optional<std::size_t> count = request.Read(block, sizeof block);
    if (!count) return {};
    if (*count == 0) return body;
    if (body.size() + *count > limits.max_body_bytes) return {};
    body.append(block, *count);
  }
}

}  // namespace vellora
