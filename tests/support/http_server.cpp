#include "support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vellora::testing {
namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::size_t ContentLength(const std::string& head) {
  const std::string lower = Lower(head);
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoull(lower.c_str() + at + 17, nullptr, 10));
}

// Waits for `fd` to become readable or the stop pipe to fire; true when `fd` is readable.
bool WaitReadable(int fd, int stop_fd, int timeout_ms) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
  const int ready = ::poll(fds, 2, timeout_ms);
  if (ready <= 0 || (fds[1].revents & POLLIN) != 0) return false;
  return (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

}  // namespace

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() {
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

void HttpServer::Start() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // cpp-httplib 0.11 has no wait_until_ready(); the socket already listens, this only waits
  // for the accept loop to have started.
  while (!server_.is_running()) std::this_thread::yield();
}

std::string HttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

RawConnection::RawConnection(int fd, int stop_fd, std::string request,
                             std::function<void()> on_peer_close)
    : fd_(fd),
      stop_fd_(stop_fd),
      request_(std::move(request)),
      on_peer_close_(std::move(on_peer_close)) {}

RawConnection::~RawConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {stop_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) <= 0 || (fds[1].revents & POLLIN) != 0) return false;
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool RawConnection::WaitForPeerClose() {
  char scratch[4096];
  while (WaitReadable(fd_, stop_fd_, -1)) {
    if (::recv(fd_, scratch, sizeof scratch, 0) <= 0) {
      on_peer_close_();
      return true;
    }
  }
  return false;
}

bool RawConnection::Pause(std::chrono::milliseconds pause) {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
  const int ready = ::poll(fds, 2, static_cast<int>(pause.count()));
  if (ready == 0) return true;
  if ((fds[1].revents & POLLIN) != 0) return false;
  char scratch[4096];
  if (::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT) > 0) return true;
  on_peer_close_();
  return false;
}

void RawConnection::Reset() {
  linger hard{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd_);
  fd_ = -1;
}

RawHttpServer::RawHttpServer(Responder responder) : responder_(std::move(responder)) {
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (listen_fd_ < 0 ||
      ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

RawHttpServer::~RawHttpServer() {
  const char stop = 1;
  [[maybe_unused]] const ssize_t written = ::write(stop_pipe_[1], &stop, 1);
  accept_thread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(connection_threads_);
  }
  for (std::thread& thread : threads) thread.join();
  ::close(listen_fd_);
  ::close(stop_pipe_[0]);
  ::close(stop_pipe_[1]);
}

std::string RawHttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> RawHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool RawHttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

int RawHttpServer::PeerCloses() const {
  std::lock_guard lock(mutex_);
  return peer_closes_;
}

bool RawHttpServer::WaitForPeerCloses(int count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return peer_closes_ >= count; });
}

RawHttpServer::Responder RawHttpServer::Answer(std::string response) {
  return [response = std::move(response)](RawConnection& connection) { connection.Send(response); };
}

RawHttpServer::Responder RawHttpServer::AnswerOk(std::string body) {
  return Answer("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body);
}

void RawHttpServer::AcceptLoop() {
  while (WaitReadable(listen_fd_, stop_pipe_[0], -1)) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    connection_threads_.emplace_back([this, fd] { Serve(fd); });
  }
}

void RawHttpServer::Serve(int fd) {
  std::string request;
  std::size_t head_end = std::string::npos;
  char block[4096];
  while (head_end == std::string::npos || request.size() < head_end + ContentLength(request)) {
    if (!WaitReadable(fd, stop_pipe_[0], -1)) break;
    const ssize_t received = ::recv(fd, block, sizeof block, 0);
    if (received <= 0) break;
    request.append(block, static_cast<std::size_t>(received));
    if (head_end == std::string::npos) {
      const std::size_t blank = request.find("\r\n\r\n");
      if (blank != std::string::npos) head_end = blank + 4;
      if (request.size() > kMaxRequestHead) break;
    }
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  changed_.notify_all();
  RawConnection connection(fd, stop_pipe_[0], std::move(request), [this] {
    {
      std::lock_guard lock(mutex_);
      ++peer_closes_;
    }
    changed_.notify_all();
  });
  responder_(connection);
}

}  // namespace vellora::testing
