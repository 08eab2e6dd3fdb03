#include "request_log.h"

#include <strings.h>

#include <cerrno>
#include <cstring>

#include "pages.h"

namespace vellora::sample_site {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<std::string> LoggedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0)
      return value;
  }
  return std::nullopt;
}

std::string JsonString(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (const std::size_t n = Utf8SequenceLength(bytes, i); n > 0) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
      ++i;
    }
  }
  out += '"';
  return out;
}

std::string LoggedRequest::ToJson() const {
  std::string json = "{\"method\":" + JsonString(method) + ",\"path\":" + JsonString(path) +
                     ",\"version\":" + JsonString(version) + ",\"headers\":[";
  for (std::size_t i = 0; i < headers.size(); ++i) {
    if (i > 0) json += ',';
    json += '[' + JsonString(headers[i].first) + ',' + JsonString(headers[i].second) + ']';
  }
  json += "]}";
  return json;
}

std::optional<LoggedRequest> ParseRequestHead(std::string_view head) {
  std::size_t line_end = head.find('\n');
  std::string_view line = Trim(head.substr(0, line_end));
  const std::size_t first_space = line.find(' ');
  const std::size_t last_space = line.rfind(' ');
  if (first_space == std::string_view::npos || last_space == first_space) return std::nullopt;
  LoggedRequest request;
  request.method = std::string(line.substr(0, first_space));
  request.path = std::string(line.substr(first_space + 1, last_space - first_space - 1));
  request.version = std::string(line.substr(last_space + 1));
  while (line_end != std::string_view::npos) {
    const std::size_t start = line_end + 1;
    line_end = head.find('\n', start);
    line = head.substr(start, line_end == std::string_view::npos ? head.npos : line_end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      request.headers.emplace_back(std::string(Trim(line)), "");
    } else {
      request.headers.emplace_back(std::string(line.substr(0, colon)),
                                   std::string(Trim(line.substr(colon + 1))));
    }
  }
  return request;
}

RequestLog::~RequestLog() {
  if (file_ != nullptr) std::fclose(file_);
}

std::optional<std::string> RequestLog::OpenFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return "cannot write " + path + ": " + std::strerror(errno);
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = file;
  return std::nullopt;
}

void RequestLog::Add(LoggedRequest request) {
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) {
    const std::string line = request.ToJson() + "\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    // Flushed per line so a reader sees a request as soon as it has arrived.
    std::fflush(file_);
  }
  if (keep_) entries_.push_back(std::move(request));
}

std::vector<LoggedRequest> RequestLog::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void RequestLog::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

}  // namespace vellora::sample_site
