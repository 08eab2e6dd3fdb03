#include "search/exchange.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <system_error>
#include <thread>

#include "platform/cookie_store.h"
#include "platform/internet.h"

namespace vellora {
namespace {

// The threads that run exchanges. Each exchange has a thread to itself while it runs; a thread
// that has finished one waits a while for the next instead of ending, because starting a
// thread (and the fresh memory its first transfer touches) costs more here than a whole
// loopback transfer. Never destroyed: a worker may still be letting go while the process exits.
class WorkerThreads {
 public:
  static WorkerThreads& Get() {
    static WorkerThreads* const threads = new WorkerThreads;
    return *threads;
  }

  // Runs `job` on an idle thread, or on a new one when none is idle. False when no thread
  // could be started.
  bool Start(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    ++busy_;
    if (idle_ >= jobs_.size()) {
      job_added_.notify_one();
      return true;
    }
    try {
      std::thread([this] { Serve(); }).detach();
    } catch (const std::system_error&) {
      jobs_.pop_back();
      --busy_;
      return false;
    }
    return true;
  }

  int Busy() {
    std::lock_guard lock(mutex_);
    return busy_;
  }

  bool WaitUntilNoneBusy(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return job_ended_.wait_for(lock, limit, [this] { return busy_ == 0; });
  }

 private:
  static constexpr auto kIdleLimit = std::chrono::seconds(30);

  void Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idle_;
      const bool got_job = job_added_.wait_for(lock, kIdleLimit, [this] { return !jobs_.empty(); });
      --idle_;
      if (!got_job) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      job = nullptr;  // what the job held goes before it counts as ended
      lock.lock();
      --busy_;
      job_ended_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable job_added_;
  std::condition_variable job_ended_;
  std::deque<std::function<void()>> jobs_;
  std::size_t idle_ = 0;
  int busy_ = 0;
};

// Lower-cases ASCII letters, leaving both bytes of every two-byte character alone.
Text LowerAscii(const Text& text) {
  std::string bytes = text.Bytes();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (IsLeadByte(byte)) {
      ++i;
    } else if (byte >= 'A' && byte <= 'Z') {
      bytes[i] = static_cast<char>(byte - 'A' + 'a');
    }
  }
  return Text::FromGbk(std::move(bytes));
}

Text UpperAscii(const Text& text) {
  std::string bytes = text.Bytes();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (IsLeadByte(byte)) {
      ++i;
    } else if (byte >= 'a' && byte <= 'z') {
      bytes[i] = static_cast<char>(byte - 'a' + 'A');
    }
  }
  return Text::FromGbk(std::move(bytes));
}

bool ContainsNoCase(const Text& text, std::string_view needle) {
  return FindText(LowerAscii(text), LowerAscii(Text::FromGbk(needle))) != -1;
}

bool StartsWithNoCase(const Text& text, std::string_view prefix) {
  return LowerAscii(LeftBytes(text, static_cast<std::int64_t>(prefix.size()))) ==
         LowerAscii(Text::FromGbk(prefix));
}

// A value that holds nothing but blanks counts as absent.
Text BlankAsEmpty(const Text& text) { return RemoveBlanks(text).Empty() ? Text() : text; }

const Text kCrLf = Text::FromGbk("\r\n");

// The extra header lines with the lines every request carries, each added only when the
// caller's text does not already name it.
Text CompleteHeaders(Text headers, const Text& url) {
  if (!ContainsNoCase(headers, "Accept: ")) {
    headers += Text::FromGbk(
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
        "application/x-shockwave-flash, application/vnd.ms-excel, "
        "application/vnd.ms-powerpoint, application/msword, */*\r\n");
  }
  if (!ContainsNoCase(headers, "Referer: ")) {
    headers += Text::FromGbk("Referer: ") + url + kCrLf;
  }
  if (!ContainsNoCase(headers, "Accept-Language: ")) {
    headers += Text::FromGbk("Accept-Language: zh-cn\r\n");
  }
  return headers;
}

// Puts the cookies of the response's Set-Cookie lines into the process's store. Only lines
// that start with the name count: "X-Set-Cookie: " must not yield a cookie "ookie: ...".
void StoreCookies(const Text& header_text, const Text& host) {
  static constexpr std::string_view kSetCookie = "Set-Cookie: ";
  if (!ContainsNoCase(header_text, kSetCookie)) return;
  const Text url = Text::FromGbk("http://") + host;
  for (const Text& line : SplitText(header_text, kCrLf)) {
    if (!StartsWithNoCase(line, kSetCookie)) continue;
    const Text rest = MidBytes(line, static_cast<std::int64_t>(kSetCookie.size()) + 1,
                               static_cast<std::int64_t>(line.Size()));
    const std::int64_t equals = FindText(rest, Text::FromGbk("="));
    if (equals == -1) {
      CookieStore::Process().SetCookie(url, Text(), rest);
    } else {
      CookieStore::Process().SetCookie(
          url, LeftBytes(rest, equals - 1),
          MidBytes(rest, equals + 1, static_cast<std::int64_t>(rest.Size())));
    }
  }
}

// What the waiting thread and the worker thread share.
struct WorkerState {
  HttpExchange exchange;
  std::mutex mutex;
  bool done = false;
  // The waiter's pump while it waits; the worker wakes it when it ends.
  EventPump* pump = nullptr;
};

}  // namespace

void ExchangeBuffer::Put(std::string_view value) {
  bytes_.replace(position_, std::min(value.size(), bytes_.size() - position_), value);
  position_ += value.size();
}

void ExchangeBuffer::WriteText(const Text& text) {
  const std::string& bytes = text.Bytes();
  std::string value = bytes.substr(0, bytes.find('\0'));
  value += '\0';
  Put(value);
}

namespace {

void PutLength(char* at, std::size_t size) {
  const auto length = static_cast<std::uint32_t>(size);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
}

}  // namespace

void ExchangeBuffer::WriteBytes(std::string_view bytes) {
  std::string value(4, '\0');
  PutLength(value.data(), bytes.size());
  value.append(bytes);
  Put(value);
}

std::size_t ExchangeBuffer::BeginBytes() {
  const std::size_t start = position_;
  WriteBytes({});
  return start;
}

void ExchangeBuffer::AppendBytes(std::size_t start, std::string_view more) {
  bytes_.append(more);
  position_ = bytes_.size();
  PutLength(bytes_.data() + start, bytes_.size() - start - 4);
}

std::optional<Text> ExchangeBuffer::ReadText() {
  const std::size_t zero = bytes_.find('\0', position_);
  if (position_ >= bytes_.size() || zero == std::string::npos) return std::nullopt;
  Text text = Text::FromGbk(std::string_view(bytes_).substr(position_, zero - position_));
  position_ = zero + 1;
  return text;
}

std::optional<std::size_t> ExchangeBuffer::LengthAt(std::size_t offset) const {
  if (offset > bytes_.size() || bytes_.size() - offset < 4) return std::nullopt;
  std::uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes_[offset + i])) << (8 * i);
  }
  if (bytes_.size() - offset - 4 < length) return std::nullopt;
  return length;
}

std::optional<std::string> ExchangeBuffer::ReadBytes() {
  const std::optional<std::size_t> length = LengthAt(position_);
  if (!length) return std::nullopt;
  std::string bytes = bytes_.substr(position_ + 4, *length);
  position_ += 4 + *length;
  return bytes;
}

std::optional<std::string> ExchangeBuffer::TakeBytes() {
  const std::optional<std::size_t> length = LengthAt(position_);
  if (!length || position_ + 4 + *length != bytes_.size()) return std::nullopt;
  bytes_.erase(0, position_ + 4);
  std::string bytes = std::move(bytes_);
  Truncate();
  return bytes;
}

void ExchangeBuffer::Seek(std::size_t offset) { position_ = std::min(offset, bytes_.size()); }

void ExchangeBuffer::Truncate() {
  bytes_.clear();
  position_ = 0;
}

void WriteRequestRecord(ExchangeBuffer& buffer, const ExchangeRequest& request) {
  buffer.Truncate();
  buffer.WriteText(Text::FromGbk(kRequestMarker));
  for (const Text* value : {&request.url, &request.verb, &request.proxy, &request.user_name,
                            &request.password, &request.extra_headers, &request.post_data}) {
    buffer.WriteText(*value);
  }
}

std::optional<ExchangeRequest> ReadRequestRecord(ExchangeBuffer& buffer) {
  buffer.Seek(0);
  const std::optional<Text> marker = buffer.ReadText();
  if (!marker || marker->Bytes() != kRequestMarker) return std::nullopt;
  ExchangeRequest request;
  for (Text* value : {&request.url, &request.verb, &request.proxy, &request.user_name,
                      &request.password, &request.extra_headers, &request.post_data}) {
    std::optional<Text> read = buffer.ReadText();
    if (!read) return std::nullopt;
    *value = std::move(*read);
  }
  return request;
}

void WriteResponseRecord(ExchangeBuffer& buffer, const ExchangeResponse& response) {
  buffer.Truncate();
  buffer.WriteText(Text::FromGbk(kResponseMarker));
  buffer.WriteText(response.header_text);
  buffer.WriteBytes(response.body);
}

namespace {

std::optional<ExchangeResponse> ReadResponse(ExchangeBuffer& buffer, bool take) {
  buffer.Seek(0);
  const std::optional<Text> marker = buffer.ReadText();
  if (!marker || marker->Bytes() != kResponseMarker) return std::nullopt;
  std::optional<Text> header_text = buffer.ReadText();
  if (!header_text) return std::nullopt;
  std::optional<std::string> body = take ? buffer.TakeBytes() : buffer.ReadBytes();
  if (!body) return std::nullopt;
  return ExchangeResponse{std::move(*header_text), std::move(*body)};
}

}  // namespace

std::optional<ExchangeResponse> ReadResponseRecord(ExchangeBuffer& buffer) {
  return ReadResponse(buffer, false);
}

std::optional<ExchangeResponse> TakeResponseRecord(ExchangeBuffer& buffer) {
  return ReadResponse(buffer, true);
}

void ExchangeCancel::Cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  // Close only signals and wakes the worker; the request is freed where it was made.
  if (request_) request_->Close();
}

bool ExchangeCancel::Cancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool ExchangeCancel::Attach(std::shared_ptr<InternetRequest> request) {
  std::lock_guard lock(mutex_);
  if (cancelled_) {
    request->Close();
    return false;
  }
  request_ = std::move(request);
  return true;
}

void ExchangeCancel::Detach() {
  std::shared_ptr<InternetRequest> request;
  {
    std::lock_guard lock(mutex_);
    request = std::move(request_);
  }
}

bool HttpWorker(HttpExchange& exchange) {
  ExchangeBuffer& buffer = exchange.buffer;
  const std::optional<ExchangeRequest> record = ReadRequestRecord(buffer);
  if (!record) return false;
  buffer.Truncate();

  const Text host = UrlHost(record->url, false);
  const InternetSession session(Text::FromGbk(kExchangeAgent),
                                TrimBlanks(BlankAsEmpty(record->proxy)));
  const InternetConnection connection(session, host, UrlPort(record->url),
                                      BlankAsEmpty(record->user_name),
                                      BlankAsEmpty(record->password));
  const Text verb = UpperAscii(record->verb);
  const bool get = verb.Empty() || verb.Bytes() == "GET";
  const bool post = verb.Bytes() == "POST";
  if (!get && !post) return false;  // nothing of it reaches the server
  const auto request = std::make_shared<InternetRequest>(
      connection, get ? Text::FromGbk("GET") : verb, UrlPath(record->url));
  // Attached until the exchange lets go of it (ExchangeCancel::Detach or its end), so the
  // connection can be torn down after the waiting thread has its response.
  if (!exchange.cancel.Attach(request)) return false;

  Text headers = CompleteHeaders(record->extra_headers, record->url);
  std::string_view body;
  if (post && !record->post_data.Empty()) {
    if (!ContainsNoCase(headers, "Content-Type: ")) {
      headers += Text::FromGbk("Content-Type: application/x-www-form-urlencoded\r\n");
    }
    headers += Text::FromGbk("Content-Length: ") +
               IntegerText(static_cast<std::int64_t>(record->post_data.Size())) + kCrLf;
    body = record->post_data.Bytes();
  }
  // Whether the head came is not asked: a failed send makes the first read fail. Once it has
  // returned, the head of the final response is complete.
  request->Send(headers, body);
  Text header_text = request->RawHeaders();
  if (header_text.Size() + 1 > kExchangeHeaderBufferBytes) header_text = Text();

  // The body goes straight into the response record; a failure leaves the buffer empty.
  buffer.WriteText(Text::FromGbk(kResponseMarker));
  buffer.WriteText(header_text);
  const std::size_t body_start = buffer.BeginBytes();
  char block[512];
  for (;;) {
    const std::optional<std::size_t> count = request->Read(block, sizeof block);
    if (!count || buffer.Size() - body_start - 4 + count.value_or(0) > kMaxExchangeBodyBytes) {
      buffer.Truncate();
      return false;
    }
    if (*count == 0) break;
    buffer.AppendBytes(body_start, std::string_view(block, *count));
  }
  request->Close();

  // A cancelled exchange's response is discarded, and so are its cookies.
  if (!exchange.cancel.Cancelled()) StoreCookies(header_text, host);
  return true;
}

std::string FetchWithTimeout(EventPump& pump, const Clock& clock, const Text& url,
                             const Text& post_data, const Text& verb, const Text& proxy,
                             const Text& user_name, const Text& password, const Text& extra_headers,
                             std::int32_t timeout_seconds, Text* header_text) {
  if (header_text != nullptr) *header_text = Text();
  auto state = std::make_shared<WorkerState>();
  WriteRequestRecord(state->exchange.buffer,
                     {url, verb, proxy, user_name, password, extra_headers, post_data});
  // A time-out below 1 s means none was given.
  const std::chrono::seconds timeout(timeout_seconds > 0 ? timeout_seconds
                                                         : kDefaultExchangeTimeoutSeconds);
  const auto deadline = clock.SteadyNow() + timeout;
  state->pump = &pump;

  const bool started = WorkerThreads::Get().Start([state] {
    HttpWorker(state->exchange);
    {
      std::lock_guard lock(state->mutex);
      state->done = true;
      if (state->pump != nullptr) state->pump->Wake();
    }
    state->exchange.cancel.Detach();  // the connection goes while the waiter reads the response
  });
  if (!started) return {};

  bool ended = false;
  for (;;) {
    {
      std::lock_guard lock(state->mutex);
      ended = state->done;
    }
    if (ended) break;
    const auto now = clock.SteadyNow();
    if (now >= deadline) break;
    pump.WaitForEvents(std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
    pump.ProcessPendingEvents();
  }
  {
    std::lock_guard lock(state->mutex);
    state->pump = nullptr;
  }
  if (!ended) {
    state->exchange.cancel.Cancel();
    return {};
  }
  std::optional<ExchangeResponse> response = TakeResponseRecord(state->exchange.buffer);
  if (!response) return {};
  if (header_text != nullptr) *header_text = std::move(response->header_text);
  return std::move(response->body);
}

int RunningHttpWorkers() { return WorkerThreads::Get().Busy(); }

bool WaitForHttpWorkers(std::chrono::milliseconds limit) {
  return WorkerThreads::Get().WaitUntilNoneBusy(limit);
}

Text UrlHost(const Text& url, bool keep_port) {
  const std::int64_t scheme = FindText(url, Text::FromGbk("http://"));
  const std::int64_t start = scheme == -1 ? 1 : scheme + 7;
  const std::int64_t slash = FindText(url, Text::FromGbk("/"), start);
  Text host =
      MidBytes(url, start, slash == -1 ? static_cast<std::int64_t>(url.Size()) : slash - start);
  if (!keep_port) {
    const std::int64_t colon = FindText(host, Text::FromGbk(":"));
    if (colon != -1) host = LeftBytes(host, colon - 1);
  }
  return LowerAscii(host);
}

Text UrlPath(const Text& url) {
  const std::int64_t host = FindText(LowerAscii(url), UrlHost(url, false));
  const std::int64_t slash = FindText(url, Text::FromGbk("/"), host == -1 ? 1 : host);
  if (slash == -1) return Text::FromGbk("/");
  return MidBytes(url, slash, static_cast<std::int64_t>(url.Size()));
}

int UrlPort(const Text& url) {
  const Text host = UrlHost(url, true);
  const std::int64_t colon = FindText(host, Text::FromGbk(":"));
  if (colon == -1) return 80;
  long long port = 0;
  for (std::size_t i = static_cast<std::size_t>(colon); i < host.Size(); ++i) {
    const unsigned char byte = host.Byte(i);
    if (byte < '0' || byte > '9') break;
    port = std::min<long long>(port * 10 + (byte - '0'), std::numeric_limits<int>::max());
  }
  return static_cast<int>(port);
}

}  // namespace vellora
