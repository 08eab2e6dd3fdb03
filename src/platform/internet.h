#pragma once

// A small HTTP client over libcurl, shaped like the operations the search client uses: a
// session (agent, direct or through a proxy), a connection (host, port, credentials), and a
// request (verb and path) that is sent once and whose body is then read in blocks. Nothing is
// ever served from a cache, redirects are followed, and every request carries the cookies of
// the cookie store that apply to it. No connect or receive time-outs are set: a request ends
// when the server ends it, when someone closes it, or after a stall limit its owner chose.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cookie_store.h"
#include "platform/text.h"

namespace vellora {

class InternetSession {
 public:
  // An empty `agent` sends no User-Agent line. An empty `proxy` connects directly (the
  // environment's proxy variables are ignored); otherwise "host:port" of a proxy that serves
  // HTTP only.
  InternetSession(Text agent, Text proxy, CookieStore& cookies = CookieStore::Process());

  const Text& Agent() const { return agent_; }
  const Text& Proxy() const { return proxy_; }
  CookieStore& Cookies() const { return cookies_; }

 private:
  Text agent_;
  Text proxy_;
  CookieStore& cookies_;
};

class InternetConnection {
 public:
  // An empty user name sends no credentials.
  InternetConnection(const InternetSession& session, Text host, int port, Text user_name,
                     Text password);

  const InternetSession& Session() const { return session_; }
  const Text& Host() const { return host_; }
  int Port() const { return port_; }
  const Text& UserName() const { return user_name_; }
  const Text& Password() const { return password_; }

 private:
  InternetSession session_;  // a copy: a request may outlive the objects it was made from
  Text host_;
  int port_;
  Text user_name_;
  Text password_;
};

enum class HttpVersion { k1_0, k1_1 };

// One request. Send, Read and RawHeaders belong to one thread; Close may be called
// from any thread at any time, also while that thread is inside Send or Read, which then
// return within 100 ms.
class InternetRequest {
 public:
  // `verb` goes on the request line as given ("GET", "POST", ...); `path` starts with "/"
  // and may carry a query. Nothing goes on the wire before Send.
  InternetRequest(const InternetConnection& connection, Text verb, Text path,
                  HttpVersion version = HttpVersion::k1_1);
  ~InternetRequest();
  InternetRequest(const InternetRequest&) = delete;
  InternetRequest& operator=(const InternetRequest&) = delete;

  // Ends the transfer when no byte arrives for `limit`, for callers without a deadline of their
  // own (0, the default, waits for ever). Call before Send.
  void SetStallLimit(std::chrono::seconds limit) { stall_limit_ = limit; }

  // Sends the request with `headers` (lines each ending with CR LF; a "User-Agent: " line
  // replaces the session's agent) and `body`, and waits for the head of the final response.
  // The lines are sent as given, and only they: a Content-Type only when `headers` has one; a
  // Content-Length only when `headers` has one and there is a body, and then with the body's
  // true length. False when the request failed or was closed.
  bool Send(const Text& headers, std::string_view body);

  // Copies up to `size` body bytes into `block`: 0 at the end of the body, nothing when the
  // transfer failed or the request was closed.
  std::optional<std::size_t> Read(char* block, std::size_t size);

  // The status line and header lines of the final response, each ending with CR LF (a head
  // beyond 64 KiB is cut there).
  Text RawHeaders() const;

  void Close();
  bool Closed() const { return closed_.load(); }

 private:
  struct Curl;
  // Drives the transfer until `ready` holds, the transfer ends or the request is closed.
  template <typename Ready>
  bool Drive(Ready ready);
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);

  std::string url_;
  Text verb_;
  HttpVersion version_;
  std::chrono::seconds stall_limit_{0};
  InternetConnection connection_;
  std::unique_ptr<Curl> curl_;
  std::atomic<bool> closed_{false};

  bool sent_ = false;
  bool done_ = false;
  bool failed_ = false;
  bool body_started_ = false;
  std::string pending_;  // received body bytes not yet read
  std::size_t pending_offset_ = 0;
  std::string head_;         // lines of the response head in progress
  std::string raw_headers_;  // the last complete head
};

}  // namespace vellora
