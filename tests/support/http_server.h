#pragma once

// Loopback HTTP servers for network tests and benchmarks, on 127.0.0.1 and an ephemeral port:
// a real one (cpp-httplib) and a raw-socket one that records requests byte for byte and
// answers with whatever a test needs, broken HTTP included.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vellora::testing {

class HttpServer {
 public:
  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Register handlers here before Start.
  httplib::Server& Routes() { return server_; }
  // Binds and serves on a thread of its own; returns once it accepts connections.
  void Start();
  int Port() const { return port_; }
  // "http://127.0.0.1:port" followed by `path`.
  std::string Url(std::string_view path) const;

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// One accepted connection of a RawHttpServer, handed to its responder once the request (head
// and Content-Length body) has been read.
class RawConnection {
 public:
  RawConnection(int fd, int stop_fd, std::string request, std::function<void()> on_peer_close);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  const std::string& Request() const { return request_; }
  // False once the peer has gone or the server stops.
  bool Send(std::string_view bytes);
  // Waits until the peer closes the connection or the server stops; true when the peer did.
  bool WaitForPeerClose();
  // Waits up to `pause`; false when the peer went or the server stopped meanwhile.
  bool Pause(std::chrono::milliseconds pause);
  // Ends the connection with a TCP reset instead of an orderly close.
  void Reset();

 private:
  int fd_;
  int stop_fd_;
  std::string request_;
  std::function<void()> on_peer_close_;
};

class RawHttpServer {
 public:
  using Responder = std::function<void(RawConnection&)>;
  explicit RawHttpServer(Responder responder);
  // Stops: stalled responders return, every thread is joined.
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int Port() const { return port_; }
  std::string Url(std::string_view path) const;
  // The requests received so far, head and body, in order of arrival.
  std::vector<std::string> Requests() const;
  // Waits until `count` requests have arrived, at most `limit`.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit) const;
  // Connections whose peer closed them while a responder waited or paused.
  int PeerCloses() const;
  // Waits until `count` peer closes have been seen, at most `limit`.
  bool WaitForPeerCloses(int count, std::chrono::milliseconds limit) const;

  // A responder that sends `response` and closes.
  static Responder Answer(std::string response);
  // "HTTP/1.1 200 OK" with `body`, Content-Length and Connection: close.
  static Responder AnswerOk(std::string body);

 private:
  void AcceptLoop();
  void Serve(int fd);

  Responder responder_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  int port_ = 0;
  std::thread accept_thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::thread> connection_threads_;
  std::vector<std::string> requests_;
  int peer_closes_ = 0;
};

}  // namespace vellora::testing
