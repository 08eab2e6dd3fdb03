#pragma once

// One HTTP exchange of the search client: the request runs on a worker thread of its own while
// the GUI thread waits for it with a time-out and keeps dispatching window events.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace vellora {

class InternetRequest;

// The agent string of the search client's requests; a "User-Agent: " extra header replaces it.
inline constexpr std::string_view kExchangeAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
inline constexpr std::int32_t kDefaultExchangeTimeoutSeconds = 90;
// A body beyond this ends the exchange as a failure: a server must not fill our memory.
inline constexpr std::size_t kMaxExchangeBodyBytes = 16 * 1024 * 1024;
// A response header text this long or longer (its terminating zero included) is not captured.
inline constexpr std::size_t kExchangeHeaderBufferBytes = 1024;

// A growable, seekable byte stream. Texts are stored with a terminating zero byte (a text is
// cut at its first zero byte), byte sequences behind a 4-byte little-endian length.
class ExchangeBuffer {
 public:
  void WriteText(const Text& text);
  void WriteBytes(std::string_view bytes);
  // A byte sequence written in pieces, so a body goes into the stream without a copy of its
  // own: BeginBytes writes an empty one at the position and returns its offset, AppendBytes
  // adds to the one at `start`, which must end the stream.
  std::size_t BeginBytes();
  void AppendBytes(std::size_t start, std::string_view more);

  // The value at the read position, which moves past it; nothing when the stream ends first.
  std::optional<Text> ReadText();
  std::optional<std::string> ReadBytes();
  // ReadBytes for the value that ends the stream, moved out rather than copied; the stream is
  // empty afterwards.
  std::optional<std::string> TakeBytes();

  void Seek(std::size_t offset);
  std::size_t Position() const { return position_; }
  std::size_t Size() const { return bytes_.size(); }
  // Empties the stream.
  void Truncate();
  const std::string& Bytes() const { return bytes_; }

 private:
  // Writes over what follows the position, growing the stream where it ends.
  void Put(std::string_view value);
  // The length of the byte sequence at `offset`, when the stream holds all of it.
  std::optional<std::size_t> LengthAt(std::size_t offset) const;
  std::string bytes_;
  std::size_t position_ = 0;
};

inline constexpr std::string_view kRequestMarker = "Quibsel";
inline constexpr std::string_view kResponseMarker = "Quibsel_OK";

// What the caller asks for. Empty texts stand for absent values.
struct ExchangeRequest {
  Text url{};
  Text verb{};  // empty means GET
  Text proxy{};
  Text user_name{};
  Text password{};
  Text extra_headers{};  // each line ending with CR LF
  Text post_data{};
  friend bool operator==(const ExchangeRequest&, const ExchangeRequest&) = default;
};

struct ExchangeResponse {
  Text header_text{};  // status line and header lines, each ending with CR LF
  std::string body{};
  friend bool operator==(const ExchangeResponse&, const ExchangeResponse&) = default;
};

// The records are written at offset 0 over whatever the buffer held, and read from offset 0.
void WriteRequestRecord(ExchangeBuffer& buffer, const ExchangeRequest& request);
std::optional<ExchangeRequest> ReadRequestRecord(ExchangeBuffer& buffer);
void WriteResponseRecord(ExchangeBuffer& buffer, const ExchangeResponse& response);
std::optional<ExchangeResponse> ReadResponseRecord(ExchangeBuffer& buffer);
// ReadResponseRecord that moves the body out, leaving the buffer empty.
std::optional<ExchangeResponse> TakeResponseRecord(ExchangeBuffer& buffer);

// Lets the waiting thread cancel the worker's transfer. Thread-safe.
class ExchangeCancel {
 public:
  // Closes the request in progress, and any the worker opens later as soon as it does.
  void Cancel();
  bool Cancelled() const;
  // For the worker: false when the exchange is already cancelled (the request is then closed).
  bool Attach(std::shared_ptr<InternetRequest> request);
  void Detach();

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  std::shared_ptr<InternetRequest> request_;
};

// What FetchWithTimeout and its worker share. Both hold it through a shared_ptr, so a worker
// still letting go after a time-out never touches freed memory. The buffer belongs to the
// caller before the worker starts and after it ends, and to the worker in between.
struct HttpExchange {
  ExchangeBuffer buffer;
  ExchangeCancel cancel;
};

// The worker's body: reads the request record, performs the request, writes the response
// record. False when it wrote no response (bad record, refused verb, failed or cancelled
// transfer, body over kMaxExchangeBodyBytes). The request stays attached to `exchange.cancel`
// until Detach, or until the exchange goes.
bool HttpWorker(HttpExchange& exchange);

// Performs one request on a worker thread of its own and waits for it on the calling (GUI)
// thread, dispatching the pump's events until the worker ends or the time-out has passed on
// `clock` (0 or less means kDefaultExchangeTimeoutSeconds); handlers run inside the wait never
// move the deadline. Returns the body; the empty body, with an empty header text, on any
// failure or time-out. `header_text`, when given, receives the raw response header text.
std::string FetchWithTimeout(EventPump& pump, const Clock& clock, const Text& url,
                             const Text& post_data = {}, const Text& verb = {},
                             const Text& proxy = {}, const Text& user_name = {},
                             const Text& password = {}, const Text& extra_headers = {},
                             std::int32_t timeout_seconds = 0, Text* header_text = nullptr);

// Workers still busy with an exchange, cancelled ones included. (Their threads are kept a
// while after for the next exchange; an idle thread holds nothing of the last one.)
int RunningHttpWorkers();
// Waits until no worker is busy, at most `limit`; false when some still are.
bool WaitForHttpWorkers(std::chrono::milliseconds limit);

// The host part of a URL, lower-cased, with ":port" only when `keep_port` is set.
Text UrlHost(const Text& url, bool keep_port);
// Path and query, starting with "/".
Text UrlPath(const Text& url);
// The port the URL names; 80 when it names none.
int UrlPort(const Text& url);

}  // namespace vellora
