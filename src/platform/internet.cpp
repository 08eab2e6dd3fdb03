#include "platform/internet.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vellora {
namespace {

constexpr long kMaxRedirects = 10;
// Beyond this a response head is only counted, not kept: it is far past any use.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
// How long one wait for the socket may last before the loop looks around again; a Close
// wakes it at once.
constexpr int kPollMilliseconds = 1000;

bool IsHostName(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
  });
}

// libcurl refuses blanks and control characters in a URL; bytes of GBK text pass as they are.
std::string EscapeForCurl(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0x0F];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

void InitCurlOnce() {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)initialised;
}

// Each transfer gets a copy of the store: libcurl then sends what applies, also after a
// redirect, while cookies that responses set never reach the store behind our back.
void LoadCookies(CURL* easy, const CookieStore& store) {
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
  const std::vector<std::string> lines = store.NetscapeLines();
  // Newest first: among cookies of one path libcurl sends the last loaded first, and the
  // oldest cookie should go first.
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    curl_easy_setopt(easy, CURLOPT_COOKIELIST, line->c_str());
  }
}

std::string StripLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return std::string(line);
}

}  // namespace

struct InternetRequest::Curl {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headers = nullptr;
  bool added = false;

  ~Curl() {
    if (added) curl_multi_remove_handle(multi, easy);
    if (easy != nullptr) curl_easy_cleanup(easy);
    if (multi != nullptr) curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
  }
};

InternetSession::InternetSession(Text agent, Text proxy, CookieStore& cookies)
    : agent_(std::move(agent)), proxy_(std::move(proxy)), cookies_(cookies) {}

InternetConnection::InternetConnection(const InternetSession& session, Text host, int port,
                                       Text user_name, Text password)
    : session_(session),
      host_(std::move(host)),
      port_(port),
      user_name_(std::move(user_name)),
      password_(std::move(password)) {}

InternetRequest::InternetRequest(const InternetConnection& connection, Text verb, Text path,
                                 HttpVersion version)
    : verb_(std::move(verb)),
      version_(version),
      connection_(connection),
      curl_(std::make_unique<Curl>()) {
  InitCurlOnce();
  curl_->easy = curl_easy_init();
  curl_->multi = curl_multi_init();
  const std::string& host = connection.Host().Bytes();
  if (curl_->easy == nullptr || curl_->multi == nullptr || !IsHostName(host) ||
      connection.Port() < 1 || connection.Port() > 65535 || verb_.Empty()) {
    failed_ = true;
    return;
  }
  url_ = "http://" + host + ":" + std::to_string(connection.Port()) +
         EscapeForCurl(path.Empty() ? std::string("/") : path.Bytes());
}

InternetRequest::~InternetRequest() = default;

bool InternetRequest::Send(const Text& headers, std::string_view body) {
  if (sent_ || failed_ || closed_) {
    failed_ = true;
    return false;
  }
  sent_ = true;
  CURL* const easy = curl_->easy;
  const InternetSession& session = connection_.Session();
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   static_cast<long>(version_ == HttpVersion::k1_0 ? CURL_HTTP_VERSION_1_0
                                                                   : CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  // A proxy that serves HTTP only: never follow a redirect to another scheme through it.
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR,
                   session.Proxy().Empty() ? "http,https" : "http");
  // An empty proxy also keeps the environment's proxy variables out.
  curl_easy_setopt(easy, CURLOPT_PROXY, session.Proxy().Bytes().c_str());
  curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
  if (stall_limit_.count() > 0) {
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall_limit_.count()));
  }
  if (!session.Agent().Empty()) {
    curl_easy_setopt(easy, CURLOPT_USERAGENT, session.Agent().Bytes().c_str());
  }
  if (!connection_.UserName().Empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, connection_.UserName().Bytes().c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, connection_.Password().Bytes().c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }

  std::string_view rest = headers.Bytes();
  bool has_content_length = false;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find_first_of("\r\n"), rest.size());
    const std::string line(rest.substr(0, end));
    rest.remove_prefix(end);
    while (!rest.empty() && (rest.front() == '\r' || rest.front() == '\n')) rest.remove_prefix(1);
    // libcurl writes the length itself, always right, and leaves it out when a redirect turns
    // the request into a GET: a stale length there would make the server wait for a body.
    if (line.size() >= 15 && curl_strnequal(line.c_str(), "Content-Length:", 15) != 0) {
      has_content_length = true;
      continue;
    }
    if (!line.empty()) curl_->headers = curl_slist_append(curl_->headers, line.c_str());
  }
  // An entry without a value keeps libcurl's own line of that name away; a caller's line of
  // the same name still goes out.
  std::vector<const char*> removals = {"Expect:", "Content-Type:"};
  if (!has_content_length || body.empty()) removals.push_back("Content-Length:");
  for (const char* removal : removals) {
    curl_->headers = curl_slist_append(curl_->headers, removal);
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, curl_->headers);

  if (verb_.Bytes() == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else if (verb_.Bytes() == "POST") {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.data());
  } else {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb_.Bytes().c_str());
    if (!body.empty()) {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.data());
    }
  }

  LoadCookies(easy, session.Cookies());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &InternetRequest::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &InternetRequest::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);

  if (curl_multi_add_handle(curl_->multi, easy) != CURLM_OK) {
    failed_ = true;
    return false;
  }
  curl_->added = true;
  return Drive([this] { return body_started_; });
}

std::optional<std::size_t> InternetRequest::Read(char* block, std::size_t size) {
  if (!sent_ || failed_ || closed_) return std::nullopt;
  if (pending_offset_ == pending_.size()) {
    pending_.clear();
    pending_offset_ = 0;
    if (!Drive([this] { return !pending_.empty(); })) return std::nullopt;
  }
  const std::size_t count = std::min(size, pending_.size() - pending_offset_);
  std::memcpy(block, pending_.data() + pending_offset_, count);
  pending_offset_ += count;
  return count;
}

Text InternetRequest::RawHeaders() const { return Text::FromGbk(raw_headers_); }

void InternetRequest::Close() {
  closed_ = true;
  // Thread-safe in libcurl; the multi handle lives as long as this object.
  if (curl_->multi != nullptr) curl_multi_wakeup(curl_->multi);
}

template <typename Ready>
bool InternetRequest::Drive(Ready ready) {
  while (!failed_) {
    if (closed_) {
      failed_ = true;
      break;
    }
    if (ready() || done_) break;
    int running = 0;
    if (curl_multi_perform(curl_->multi, &running) != CURLM_OK) {
      failed_ = true;
      break;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(curl_->multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      done_ = true;
      if (message->data.result != CURLE_OK) failed_ = true;
    }
    if (failed_ || ready() || done_) break;
    if (curl_multi_poll(curl_->multi, nullptr, 0, kPollMilliseconds, nullptr) != CURLM_OK) {
      failed_ = true;
    }
  }
  if (closed_) failed_ = true;
  return !failed_;
}

std::size_t InternetRequest::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto* request = static_cast<InternetRequest*>(self);
  if (request->closed_) return 0;  // ends the transfer
  request->body_started_ = true;
  request->pending_.append(data, size * count);
  return size * count;
}

std::size_t InternetRequest::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto* request = static_cast<InternetRequest*>(self);
  const std::string line = StripLineEnd(std::string_view(data, size * count));
  std::string& head = request->head_;
  if (line.starts_with("HTTP/")) {
    // Each response of a redirect chain (and each interim 1xx) starts over.
    head.clear();
  }
  if (line.empty()) {
    if (head.starts_with("HTTP/")) request->raw_headers_ = head;
    head.clear();
  } else if (head.size() + line.size() + 2 <= kMaxHeadBytes) {
    head += line;
    head += "\r\n";
  } else {
    head.append(line, 0, kMaxHeadBytes - std::min(head.size(), kMaxHeadBytes));
  }
  return size * count;
}

}  // namespace vellora
