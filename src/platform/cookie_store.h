#pragma once

// The process's cookies. Every request carries the cookies that apply to its host and path;
// cookies with an expiry are kept in a file of the program's so they survive a restart, and
// cookies without one die with the process.

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/text.h"

namespace vellora {

struct Cookie {
  std::string domain;               // lower-case host or domain, no leading dot
  bool include_subdomains = false;  // set by a "domain" attribute
  std::string path = "/";
  bool secure = false;
  std::time_t expires = 0;  // 0 for a session cookie
  std::string name;
  std::string value;
  friend bool operator==(const Cookie&, const Cookie&) = default;
};

class CookieStore {
 public:
  // Caps that keep a server from growing the store without end.
  static constexpr std::size_t kMaxCookiesPerDomain = 50;
  static constexpr std::size_t kMaxCookies = 1000;
  static constexpr std::size_t kMaxCookieBytes = 4096;

  // Reads the persistent cookies from `file` (a missing or damaged file gives none) and keeps
  // them there from now on.
  explicit CookieStore(std::filesystem::path file);
  CookieStore(const CookieStore&) = delete;
  CookieStore& operator=(const CookieStore&) = delete;

  // The process's store, kept in "cookies.dat" in the run directory unless Reopen moves it.
  // Never destroyed: a worker cancelled at exit may still be using it.
  static CookieStore& Process();

  // Forgets every cookie, then reads the persistent ones from `file` and keeps them there.
  void Reopen(std::filesystem::path file);

  // Stores one cookie for the host of `url` ("http://host/path"), as a server's
  // "Set-Cookie: name=data" would: `data` is the value, optionally followed by attributes
  // ("; path=/; expires=...; max-age=...; domain=...; secure"). With an empty name, `data`
  // holds "name=value" itself. An expiry in the past removes the cookie. Returns
  // invalid_argument for a cookie it refuses, or the error of writing the file.
  std::error_code SetCookie(const Text& url, const Text& name, const Text& data);

  // The live cookies in the order they were first set.
  std::vector<Cookie> Cookies() const;
  // The same in the Netscape cookie-file form, one line each (what libcurl loads).
  std::vector<std::string> NetscapeLines() const;

  const std::filesystem::path& File() const { return file_; }

 private:
  void LoadLocked();
  std::error_code SaveLocked() const;
  void DropExpiredLocked(std::time_t now);

  mutable std::mutex mutex_;
  std::filesystem::path file_;
  std::vector<Cookie> cookies_;
};

// One cookie as a Netscape cookie-file line, and back; nothing for a line that is not one.
std::string NetscapeLine(const Cookie& cookie);
std::optional<Cookie> ParseNetscapeLine(std::string_view line);

}  // namespace vellora
