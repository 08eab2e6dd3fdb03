#include "platform/cookie_store.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <limits>

#include "platform/files.h"
#include "platform/safe_file.h"

namespace vellora {
namespace {

constexpr std::string_view kFileHeader =
    "# Netscape HTTP Cookie File\n"
    "# Vellora's cookies that have an expiry; session cookies are never written here.\n";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return LowerAscii(c); });
  return lower;
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Control characters would break the one-line-per-cookie file and the Cookie header.
bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

bool IsIpAddress(std::string_view host) {
  return !host.empty() &&
         (host.front() == '[' || host.find_first_not_of("0123456789.") == std::string_view::npos);
}

struct UrlParts {
  std::string host;
  std::string path;
};

// Host and path of "scheme://host:port/path?query"; a URL without a scheme starts with its host.
UrlParts SplitUrl(std::string_view url) {
  if (const auto scheme = url.find("://"); scheme != std::string_view::npos) {
    url.remove_prefix(scheme + 3);
  }
  const std::size_t host_end = std::min(url.find_first_of("/?#"), url.size());
  std::string_view host = url.substr(0, host_end);
  if (const auto at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
  if (host.empty() || host.front() != '[') {
    host = host.substr(0, host.find(':'));
  } else if (const auto close = host.find(']'); close != std::string_view::npos) {
    host = host.substr(0, close + 1);
  }
  std::string_view path = url.substr(host_end);
  path = path.substr(0, path.find_first_of("?#"));
  return {LowerAscii(host), std::string(path)};
}

// The path a cookie gets when it names none: the request path up to its last "/".
std::string DefaultPath(std::string_view url_path) {
  if (url_path.empty() || url_path.front() != '/') return "/";
  const auto last = url_path.rfind('/');
  return last == 0 ? "/" : std::string(url_path.substr(0, last));
}

bool DomainMatches(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  return !IsIpAddress(host) && host.size() > domain.size() &&
         host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == '.';
}

bool SameCookie(const Cookie& a, const Cookie& b) {
  return a.name == b.name && a.domain == b.domain && a.path == b.path;
}

bool Expired(const Cookie& cookie, std::time_t now) {
  return cookie.expires != 0 && cookie.expires <= now;
}

// A cookie as a server's Set-Cookie header would give it; nothing when it must be refused.
std::optional<Cookie> ParseCookie(const UrlParts& url, std::string_view name, std::string_view data,
                                  std::time_t now) {
  if (name.size() + data.size() > CookieStore::kMaxCookieBytes || url.host.empty()) return {};
  std::string_view value = data.substr(0, data.find(';'));
  std::string_view attributes = data.substr(value.size());
  if (Trim(name).empty()) {
    const auto equals = value.find('=');
    if (equals == std::string_view::npos) return {};
    name = value.substr(0, equals);
    value = value.substr(equals + 1);
  }
  name = Trim(name);
  value = Trim(value);
  if (name.empty() || HasControl(name) || name.find_first_of("=;,") != std::string_view::npos ||
      HasControl(value)) {
    return {};
  }

  Cookie cookie;
  cookie.domain = url.host;
  cookie.path = DefaultPath(url.path);
  cookie.name = std::string(name);
  cookie.value = std::string(value);
  bool has_max_age = false;
  while (!attributes.empty()) {
    attributes.remove_prefix(1);  // the ';'
    const std::string_view attribute = attributes.substr(0, attributes.find(';'));
    attributes.remove_prefix(attribute.size());
    const auto equals = attribute.find('=');
    const std::string key = LowerAscii(Trim(attribute.substr(0, equals)));
    const std::string_view argument =
        equals == std::string_view::npos ? std::string_view() : Trim(attribute.substr(equals + 1));
    if (HasControl(argument)) return {};
    if (key == "path") {
      if (!argument.empty() && argument.front() == '/') cookie.path = std::string(argument);
    } else if (key == "domain") {
      std::string domain = LowerAscii(argument);
      if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
      if (domain.empty()) continue;
      if (!DomainMatches(url.host, domain)) return {};
      // A bare top-level name would hand the cookie to every site under it.
      if (domain != url.host && domain.find('.') == std::string::npos) return {};
      cookie.domain = domain;
      cookie.include_subdomains = !IsIpAddress(domain);
    } else if (key == "max-age") {
      long long seconds = 0;
      const auto [end, error] =
          std::from_chars(argument.data(), argument.data() + argument.size(), seconds);
      if (error == std::errc::result_out_of_range) {
        seconds = argument.starts_with('-') ? -1 : std::numeric_limits<int>::max();
      } else if (error != std::errc() || end != argument.data() + argument.size()) {
        continue;
      }
      has_max_age = true;
      cookie.expires = seconds <= 0 ? 1
                                    : now + static_cast<std::time_t>(std::min<long long>(
                                                seconds, std::numeric_limits<int>::max()));
    } else if (key == "expires" && !has_max_age) {
      const std::string date(argument);
      const std::time_t when = curl_getdate(date.c_str(), nullptr);
      if (when != -1) cookie.expires = when <= 0 ? 1 : when;
    } else if (key == "secure") {
      cookie.secure = true;
    }
  }
  return cookie;
}

}  // namespace

std::string NetscapeLine(const Cookie& cookie) {
  std::string line;
  if (cookie.include_subdomains) line += '.';
  line += cookie.domain;
  line += cookie.include_subdomains ? "\tTRUE\t" : "\tFALSE\t";
  line += cookie.path;
  line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
  line += std::to_string(static_cast<long long>(cookie.expires));
  line += '\t';
  line += cookie.name;
  line += '\t';
  line += cookie.value;
  return line;
}

std::optional<Cookie> ParseNetscapeLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.starts_with("#HttpOnly_")) line.remove_prefix(10);
  if (line.empty() || line.front() == '#') return {};
  std::vector<std::string_view> fields;
  while (fields.size() < 6) {
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos) return {};
    fields.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  fields.push_back(line);
  Cookie cookie;
  std::string_view domain = fields[0];
  if (domain.starts_with('.')) domain.remove_prefix(1);
  cookie.domain = LowerAscii(domain);
  cookie.include_subdomains = fields[1] == "TRUE";
  cookie.path = std::string(fields[2]);
  cookie.secure = fields[3] == "TRUE";
  long long expires = 0;
  const auto [end, error] =
      std::from_chars(fields[4].data(), fields[4].data() + fields[4].size(), expires);
  if (error != std::errc() || end != fields[4].data() + fields[4].size() || expires < 0) {
    return {};
  }
  cookie.expires = static_cast<std::time_t>(expires);
  cookie.name = std::string(fields[5]);
  cookie.value = std::string(fields[6]);
  if (cookie.domain.empty() || HasControl(cookie.domain) || !cookie.path.starts_with('/') ||
      HasControl(cookie.path) || cookie.name.empty() || HasControl(cookie.name) ||
      HasControl(cookie.value)) {
    return {};
  }
  return cookie;
}

CookieStore::CookieStore(std::filesystem::path file) : file_(std::move(file)) { LoadLocked(); }

CookieStore& CookieStore::Process() {
  static CookieStore* const store = new CookieStore(RunDirectory() / "cookies.dat");
  return *store;
}

void CookieStore::Reopen(std::filesystem::path file) {
  std::lock_guard lock(mutex_);
  file_ = std::move(file);
  cookies_.clear();
  LoadLocked();
}

void CookieStore::LoadLocked() {
  std::error_code error;
  const std::optional<std::string> bytes = ReadWholeFile(file_, error);
  if (!bytes) return;
  const std::time_t now = std::time(nullptr);
  std::string_view rest = *bytes;
  while (!rest.empty() && cookies_.size() < kMaxCookies) {
    const auto end = std::min(rest.find('\n'), rest.size());
    std::optional<Cookie> cookie = ParseNetscapeLine(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    // Only cookies with an expiry belong in the file; anything else there is not ours.
    if (!cookie || cookie->expires == 0 || Expired(*cookie, now)) continue;
    const auto same = std::find_if(cookies_.begin(), cookies_.end(),
                                   [&](const Cookie& c) { return SameCookie(c, *cookie); });
    if (same != cookies_.end()) {
      *same = std::move(*cookie);
    } else {
      cookies_.push_back(std::move(*cookie));
    }
  }
}

std::error_code CookieStore::SaveLocked() const {
  std::string bytes(kFileHeader);
  const std::time_t now = std::time(nullptr);
  for (const Cookie& cookie : cookies_) {
    if (cookie.expires == 0 || Expired(cookie, now)) continue;
    bytes += NetscapeLine(cookie);
    bytes += '\n';
  }
  return WriteFileAtomically(file_, bytes);
}

void CookieStore::DropExpiredLocked(std::time_t now) {
  std::erase_if(cookies_, [now](const Cookie& cookie) { return Expired(cookie, now); });
}

std::error_code CookieStore::SetCookie(const Text& url, const Text& name, const Text& data) {
  const std::time_t now = std::time(nullptr);
  std::optional<Cookie> cookie =
      ParseCookie(SplitUrl(url.Bytes()), name.Bytes(), data.Bytes(), now);
  if (!cookie) return std::make_error_code(std::errc::invalid_argument);

  std::lock_guard lock(mutex_);
  bool persistent_change = cookie->expires != 0;
  const auto same = std::find_if(cookies_.begin(), cookies_.end(),
                                 [&](const Cookie& c) { return SameCookie(c, *cookie); });
  if (same != cookies_.end()) {
    persistent_change = persistent_change || same->expires != 0;
    if (Expired(*cookie, now)) {
      cookies_.erase(same);
    } else {
      *same = std::move(*cookie);  // keeps its place: the order is that of first setting
    }
  } else if (!Expired(*cookie, now)) {
    DropExpiredLocked(now);
    const auto same_domain = [&](const Cookie& c) { return c.domain == cookie->domain; };
    if (static_cast<std::size_t>(std::count_if(cookies_.begin(), cookies_.end(), same_domain)) >=
        kMaxCookiesPerDomain) {
      const auto oldest = std::find_if(cookies_.begin(), cookies_.end(), same_domain);
      persistent_change = persistent_change || oldest->expires != 0;
      cookies_.erase(oldest);
    }
    if (cookies_.size() >= kMaxCookies) {
      persistent_change = persistent_change || cookies_.front().expires != 0;
      cookies_.erase(cookies_.begin());
    }
    cookies_.push_back(std::move(*cookie));
  } else {
    persistent_change = false;  // removing a cookie that is not there
  }
  return persistent_change ? SaveLocked() : std::error_code();
}

std::vector<Cookie> CookieStore::Cookies() const {
  const std::time_t now = std::time(nullptr);
  std::lock_guard lock(mutex_);
  std::vector<Cookie> live;
  for (const Cookie& cookie : cookies_) {
    if (!Expired(cookie, now)) live.push_back(cookie);
  }
  return live;
}

std::vector<std::string> CookieStore::NetscapeLines() const {
  std::vector<std::string> lines;
  for (const Cookie& cookie : Cookies()) lines.push_back(NetscapeLine(cookie));
  return lines;
}

}  // namespace vellora
