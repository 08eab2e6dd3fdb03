#pragma once

// The sample site's request log: one JSON line per request, in the order requests arrive, so
// tests and the demo can see exactly what went on the wire.

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellora::sample_site {

struct LoggedRequest {
  std::string method;
  std::string path;     // path with query, as sent (not decoded)
  std::string version;  // "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;  // in the order sent

  // The value of the first header of that name (case-insensitive), or nothing.
  std::optional<std::string> Header(std::string_view name) const;
  // {"method":..,"path":..,"version":..,"headers":[["Name","value"],..]}. Bytes that are not
  // UTF-8 are written as \u00XX of their byte value.
  std::string ToJson() const;
};

// Reads the request line and header lines of a raw request head ("GET / HTTP/1.1\r\nA: b\r\n\r\n").
// Nothing when there is no request line.
std::optional<LoggedRequest> ParseRequestHead(std::string_view head);

std::string JsonString(std::string_view bytes);

class RequestLog {
 public:
  RequestLog() = default;
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // Starts writing to a file, emptied first. The error text, or nothing on success.
  std::optional<std::string> OpenFile(const std::string& path);
  void KeepInMemory(bool keep) {
    std::lock_guard lock(mutex_);
    keep_ = keep;
  }

  void Add(LoggedRequest request);
  std::vector<LoggedRequest> Entries() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool keep_ = false;
  std::vector<LoggedRequest> entries_;
};

}  // namespace vellora::sample_site
