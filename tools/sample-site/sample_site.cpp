#include "sample_site.h"

#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

namespace vellora::sample_site {

namespace {

using Clock = std::chrono::steady_clock;

// The connection a request came in on. httplib keeps the raw request to itself (its header map
// is sorted), so the site reads sockets through this stream, which keeps the bytes of each
// request head for the log and lets a handler close the connection or watch for the peer
// going away.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(int sock, time_t read_timeout_sec, time_t write_timeout_sec)
      : sock_(sock),
        read_timeout_ms_(static_cast<int>(read_timeout_sec * 1000)),
        write_timeout_ms_(static_cast<int>(write_timeout_sec * 1000)) {}

  bool is_readable() const override { return offset_ < filled_ || Poll(POLLIN, read_timeout_ms_); }
  bool is_writable() const override { return !aborted_ && Poll(POLLOUT, write_timeout_ms_); }

  ssize_t read(char* ptr, size_t size) override {
    if (aborted_) return -1;
    if (offset_ == filled_) {
      if (!is_readable()) return -1;
      ssize_t n;
      do {
        n = ::recv(sock_, buffer_, sizeof buffer_, 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      offset_ = 0;
      filled_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, filled_ - offset_);
    std::memcpy(ptr, buffer_ + offset_, n);
    Record(ptr, n);
    offset_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do {
      n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(&::getpeername, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(&::getsockname, ip, port);
  }
  int socket() const override { return sock_; }

  void BeginRequest() {
    head_.clear();
    head_done_ = false;
  }
  const std::string& Head() const { return head_; }
  bool HasBuffered() const { return offset_ < filled_; }

  // Ends the connection without an answer: every later write fails.
  void Abort() { aborted_ = true; }
  bool Aborted() const { return aborted_; }

  // True once the client has closed or reset its end.
  bool PeerClosed() const {
    pollfd p{sock_, static_cast<short>(POLLIN | POLLRDHUP), 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
    char byte;
    return ::recv(sock_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
  }

 private:
  bool Poll(short events, int timeout_ms) const {
    pollfd p{sock_, events, 0};
    int n;
    do {
      n = ::poll(&p, 1, timeout_ms);
    } while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & events) != 0;
  }

  void Record(const char* ptr, size_t n) {
    if (head_done_) return;
    constexpr size_t kMaxHead = 64 * 1024;
    head_.append(ptr, std::min(n, kMaxHead - std::min(kMaxHead, head_.size())));
    if (head_.ends_with("\r\n\r\n") || head_.ends_with("\n\n") || head_.size() >= kMaxHead)
      head_done_ = true;
  }

  using NameFunction = int (*)(int, sockaddr*, socklen_t*);
  void Address(NameFunction function, std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (function(sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service,
                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
      ip = host;
      port = std::atoi(service);
    }
  }

  int sock_;
  int read_timeout_ms_;
  int write_timeout_ms_;
  char buffer_[4096];
  size_t offset_ = 0;
  size_t filled_ = 0;
  std::string head_;
  bool head_done_ = false;
  bool aborted_ = false;
};

thread_local ConnectionStream* t_connection = nullptr;

class SiteServer final : public httplib::Server {
 public:
  SiteServer() {
    // Stalled answers hold a thread each; the library's default of eight is too few for tests
    // that stall several routes at once.
    new_task_queue = [] { return new httplib::ThreadPool(32); };
    set_keep_alive_max_count(100);
    // The library lets sockets share a port; a second site on a taken port must fail instead of
    // silently splitting the requests with the first.
    set_socket_options([](socket_t sock) {
      int yes = 1;
      int no = 0;
      ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
      ::setsockopt(sock, SOL_SOCKET, SO_REUSEPORT, &no, sizeof no);
    });
  }

 private:
  // The library's own loop over a connection's requests, but reading through our stream.
  bool process_and_close_socket(socket_t sock) override {
    int one = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ConnectionStream stream(sock, read_timeout_sec_, write_timeout_sec_);
    bool ok = false;
    for (size_t left = keep_alive_max_count_; left > 0; --left) {
      if (!WaitForRequest(stream, sock)) break;
      stream.BeginRequest();
      t_connection = &stream;
      bool connection_closed = false;
      ok = process_request(stream, left == 1, connection_closed, nullptr);
      t_connection = nullptr;
      if (!ok || connection_closed || stream.Aborted()) break;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
  }

  // Waits for the next request on a kept-alive connection, giving up at the keep-alive time-out
  // or as soon as the server stops.
  bool WaitForRequest(const ConnectionStream& stream, socket_t sock) const {
    if (stream.HasBuffered()) return true;
    const auto deadline = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET) {
      pollfd p{sock, POLLIN, 0};
      const int n = ::poll(&p, 1, 50);
      if (n > 0) return true;
      if (n < 0 && errno != EINTR) return false;
      if (Clock::now() >= deadline) return false;
    }
    return false;
  }
};

struct RouteKey {
  std::string begin;
  std::string end;
  std::string date;
  friend auto operator<=>(const RouteKey&, const RouteKey&) = default;
};

std::string TrimCity(std::string_view city) {
  while (city.starts_with(" ")) city.remove_prefix(1);
  while (city.ends_with(" ")) city.remove_suffix(1);
  return std::string(city);
}

bool IsPlainHost(std::string_view host) {
  if (host.empty() || host.size() > 255) return false;
  for (char c : host) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != ':')
      return false;
  }
  return true;
}

std::optional<int> ParseInt(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const int value = std::stoi(text);
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::string Hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// "2013-01-11", "2013-1-11" or "20130111" as "20130111".
std::string CompactDate(std::string_view date) {
  int parts[3] = {0, 0, 0};
  int index = 0;
  int digits = 0;
  for (char c : date) {
    if (c >= '0' && c <= '9') {
      parts[index] = parts[index] * 10 + (c - '0');
      if (++digits > 4) return std::string(date);
    } else if (c == '-' && index < 2 && digits > 0) {
      ++index;
      digits = 0;
    } else {
      return std::string(date);
    }
  }
  if (index == 0) return std::string(date);
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", parts[0] % 10000, parts[1] % 100,
                parts[2] % 100);
  return text;
}

}  // namespace

struct SampleSite::Impl {
  explicit Impl(SiteOptions o) : options(std::move(o)) {
    if (!options.now) options.now = [] { return std::chrono::system_clock::now(); };
    std::random_device random;
    session_secret = (static_cast<std::uint64_t>(random()) << 32) ^ random();
  }

  SiteOptions options;
  SiteServer server;
  std::thread thread;
  std::atomic<bool> loop_ended{false};
  RequestLog log;

  mutable std::mutex mutex;  // routes and stopping
  std::condition_variable stop_signal;
  bool stopping = false;
  std::map<RouteKey, RouteSettings> routes;

  std::uint64_t session_secret = 0;
  std::atomic<std::uint64_t> session_counter{0};
  std::atomic<long> counter_hits{0};

  RouteSettings SettingsFor(const std::string& begin, const std::string& end,
                            const std::string& date) const {
    std::lock_guard lock(mutex);
    if (auto it = routes.find({begin, end, date}); it != routes.end()) return it->second;
    if (auto it = routes.find({begin, end, ""}); it != routes.end()) return it->second;
    return options.defaults;
  }

  // A session token the site can check without remembering it: a number and its keyed hash.
  std::string NewSession() {
    const std::uint64_t n = ++session_counter;
    return Hex(n) + Hex(Fnv1a(Hex(n), session_secret));
  }
  bool IsSession(std::string_view token) const {
    return token.size() == 32 &&
           Hex(Fnv1a(token.substr(0, 16), session_secret)) == token.substr(16);
  }
  bool HasSessionCookie(const httplib::Request& req) const {
    for (size_t i = 0; i < req.get_header_value_count("Cookie"); ++i) {
      const std::string cookies = req.get_header_value("Cookie", i);
      for (size_t at = cookies.find("QN_SID="); at != std::string::npos;
           at = cookies.find("QN_SID=", at + 1)) {
        if (at > 0 && cookies[at - 1] != ' ' && cookies[at - 1] != ';') continue;
        const size_t start = at + 7;
        const size_t stop = cookies.find(';', start);
        if (IsSession(
                TrimCity(cookies.substr(start, stop == std::string::npos ? stop : stop - start))))
          return true;
      }
    }
    return false;
  }

  // Holds a slow answer back. False when the client went away or the site is stopping.
  bool Stall() {
    const auto deadline = Clock::now() + options.stall;
    std::unique_lock lock(mutex);
    while (!stopping) {
      if (t_connection != nullptr && t_connection->PeerClosed()) return false;
      if (Clock::now() >= deadline) return true;
      stop_signal.wait_for(lock, std::chrono::milliseconds(20));
    }
    return false;
  }

  static void CloseWithoutAnswer(httplib::Response& res) {
    if (t_connection != nullptr) t_connection->Abort();
    res.status = 500;
  }

  void LogRequest(const httplib::Request& req) {
    std::optional<LoggedRequest> entry;
    if (t_connection != nullptr) entry = ParseRequestHead(t_connection->Head());
    if (!entry) entry = LoggedRequest{req.method, req.target, req.version, {}};
    log.Add(std::move(*entry));
  }

  std::string HostOf(const httplib::Request& req, int port) const {
    const std::string host = req.get_header_value("Host");
    return IsPlainHost(host) ? host : "127.0.0.1:" + std::to_string(port);
  }

  void Search(const httplib::Request& req, httplib::Response& res) {
    SearchRequest search;
    search.begin = TrimCity(req.get_param_value("begin"));
    search.end = TrimCity(req.get_param_value("end"));
    search.date = req.get_param_value("date");
    const bool paging_form = req.has_param("page.currPageNo");
    if (paging_form) {
      search.page = ParseInt(req.get_param_value("page.currPageNo"), 1, 1000000).value_or(1);
    }
    const RouteSettings settings = SettingsFor(search.begin, search.end, search.date);
    res.set_header("Cache-Control", "no-cache");

    if (settings.mode == SiteMode::kSlow && !Stall()) return CloseWithoutAnswer(res);
    if (settings.mode == SiteMode::kFailing || search.page == settings.fail_page)
      return CloseWithoutAnswer(res);
    if (settings.mode == SiteMode::kEmpty) {
      res.set_content("", "text/html; charset=utf-8");
      return;
    }

    if (paging_form && search.page > 1) {
      // Later pages belong to the session the first page opened.
      if (!HasSessionCookie(req)) {
        res.set_content(RenderExpiredPage(), "text/html; charset=utf-8");
        return;
      }
    } else {
      res.set_header("Set-Cookie", "QN_SID=" + NewSession() + "; Path=/");
    }

    const int count = settings.flights >= 0                   ? settings.flights
                      : settings.mode == SiteMode::kManyPages ? 60
                                                              : -1;
    const std::vector<Flight> flights =
        FlightsFor(search.begin, search.end, search.date, options.now(), count);
    std::string page = RenderResultPage(search, flights, settings);
    if (settings.mode == SiteMode::kMalformed) page = MalformPage(page);
    res.set_content(std::move(page), "text/html; charset=utf-8");
  }

  void Control(const httplib::Request& req, httplib::Response& res) {
    const std::string begin = TrimCity(req.get_param_value("begin"));
    const std::string end = TrimCity(req.get_param_value("end"));
    if (begin.empty() || end.empty()) {
      res.status = 400;
      res.set_content("begin and end are required\n", "text/plain");
      return;
    }
    RouteSettings settings;
    std::string error;
    if (req.has_param("mode")) {
      if (auto mode = ParseSiteMode(req.get_param_value("mode"))) {
        settings.mode = *mode;
      } else {
        error = "unknown mode";
      }
    }
    const auto read_int = [&](const char* name, int low, int high, int& out) {
      if (!req.has_param(name)) return;
      if (auto value = ParseInt(req.get_param_value(name), low, high)) {
        out = *value;
      } else {
        error = std::string("bad ") + name;
      }
    };
    read_int("flights", 0, 100000, settings.flights);
    read_int("per_page", 1, 1000, settings.per_page);
    read_int("fail_page", 0, 1000000, settings.fail_page);
    if (req.has_param("total")) settings.total_text = req.get_param_value("total");
    if (!error.empty()) {
      res.status = 400;
      res.set_content(error + "\n", "text/plain");
      return;
    }
    std::lock_guard lock(mutex);
    routes[{begin, end, req.get_param_value("date")}] = settings;
    res.set_content("ok\n", "text/plain");
  }

  void Install(int* port) {
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      LogRequest(req);
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/search\\.action",
               [this](const httplib::Request& req, httplib::Response& res) { Search(req, res); });
    server.Get("/site/oneway_list\\.htm", [this](const httplib::Request& req,
                                                 httplib::Response& res) {
      const std::string departure = TrimCity(AsUtf8(req.get_param_value("searchDepartureAirport")));
      const std::string arrival = TrimCity(AsUtf8(req.get_param_value("searchArrivalAirport")));
      const std::string date = AsUtf8(req.get_param_value("searchDepartureTime"));
      res.set_content(
          RenderBookingPage(departure, arrival, date,
                            FlightsFor(departure, arrival, CompactDate(date), options.now())),
          "text/html; charset=utf-8");
    });
    server.Get("/qunar/note\\.txt", [this](const httplib::Request&, httplib::Response& res) {
      const std::time_t now = std::chrono::system_clock::to_time_t(options.now());
      std::tm local{};
      localtime_r(&now, &local);
      char clock[8];
      std::strftime(clock, sizeof clock, "%H:%M", &local);
      res.set_content(NoteFile(clock), "text/plain; charset=gbk");
    });
    server.Get("/qunar/link\\.txt",
               [this, port](const httplib::Request& req, httplib::Response& res) {
                 res.set_content(LinkFile(HostOf(req, *port)), "text/plain; charset=gbk");
               });
    server.Get("/count2/count\\.asp", [this](const httplib::Request&, httplib::Response& res) {
      const long hits = ++counter_hits;
      res.set_content(CounterPage(36 + hits, 12872 + hits), "application/javascript; charset=gbk");
    });
    server.Get("/link/(\\d{1,3})", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(RenderLinkPage(std::stoi(req.matches[1])), "text/html; charset=utf-8");
    });
    server.Get("/", [this, port](const httplib::Request& req, httplib::Response& res) {
      res.set_content(RenderIndexPage(HostOf(req, *port)), "text/html; charset=utf-8");
    });
    server.Get("/_sample/route",
               [this](const httplib::Request& req, httplib::Response& res) { Control(req, res); });
    server.Get("/_sample/reset", [this](const httplib::Request&, httplib::Response& res) {
      {
        std::lock_guard lock(mutex);
        routes.clear();
      }
      res.set_content("ok\n", "text/plain");
    });
  }
};

SampleSite::SampleSite(SiteOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
  impl_->log.KeepInMemory(impl_->options.keep_log);
}

SampleSite::~SampleSite() { Stop(); }

std::optional<std::string> SampleSite::Start(int port) {
  if (impl_->thread.joinable()) return "already started";
  if (!impl_->options.log_path.empty()) {
    if (auto error = impl_->log.OpenFile(impl_->options.log_path)) return error;
  }
  impl_->Install(&port_);
  if (port == 0) {
    port_ = impl_->server.bind_to_any_port("127.0.0.1");
  } else {
    port_ = impl_->server.bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (port_ <= 0) {
    const std::string error = "cannot listen on 127.0.0.1:" + std::to_string(port);
    port_ = 0;
    return error;
  }
  impl_->loop_ended = false;
  impl_->thread = std::thread([this] {
    impl_->server.listen_after_bind();
    impl_->loop_ended = true;
  });
  // The library has no "ready" signal; Stop() must not run before the loop has started, or
  // the loop would never see it.
  while (!impl_->server.is_running() && !impl_->loop_ended) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  if (impl_->loop_ended) {
    impl_->thread.join();
    port_ = 0;
    return "the server loop ended at once";
  }
  return std::nullopt;
}

void SampleSite::Stop() {
  if (!impl_->thread.joinable()) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->stop_signal.notify_all();
  impl_->server.stop();
  impl_->thread.join();
}

std::string SampleSite::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

void SampleSite::SetRoute(std::string_view begin, std::string_view end, std::string_view date,
                          RouteSettings settings) {
  std::lock_guard lock(impl_->mutex);
  impl_->routes[{TrimCity(begin), TrimCity(end), std::string(date)}] = std::move(settings);
}

void SampleSite::ResetRoutes() {
  std::lock_guard lock(impl_->mutex);
  impl_->routes.clear();
}

RouteSettings SampleSite::SettingsFor(std::string_view begin, std::string_view end,
                                      std::string_view date) const {
  return impl_->SettingsFor(TrimCity(begin), TrimCity(end), std::string(date));
}

std::vector<LoggedRequest> SampleSite::Requests() const { return impl_->log.Entries(); }

void SampleSite::ClearRequests() { impl_->log.Clear(); }

}  // namespace vellora::sample_site
