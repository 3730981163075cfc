#include "tools/client/unix_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/client/leftovers.h"
#include "tools/client/platform_dir.h"

namespace client {

Fd& Fd::operator=(Fd&& o) noexcept {
  if (this != &o) {
    reset();
    fd = o.fd;
    o.fd = -1;
  }
  return *this;
}

Fd::~Fd() { reset(); }

void Fd::reset() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

BoundSocket::BoundSocket(BoundSocket&& o) noexcept
    : fd(std::move(o.fd)), path(std::move(o.path)), leftover(o.leftover) {
  o.path.clear();
  o.leftover = -1;
}

BoundSocket& BoundSocket::operator=(BoundSocket&& o) noexcept {
  if (this != &o) {
    reset();
    fd = std::move(o.fd);
    path = std::move(o.path);
    leftover = o.leftover;
    o.path.clear();
    o.leftover = -1;
  }
  return *this;
}

BoundSocket::~BoundSocket() { reset(); }

void BoundSocket::reset() {
  if (fd.fd >= 0 && !path.empty()) ::unlink(path.c_str());
  forget_leftover(leftover);
  leftover = -1;
  fd.reset();
  path.clear();
}

Fd dgram_socket() { return Fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)); }

int bind_dgram(const std::string& path, BoundSocket& out) {
  UnixAddress a = unix_address(path);
  Fd s = dgram_socket();
  if (s.fd < 0) return errno;
  ::unlink(path.c_str());  // a stale socket file from an earlier run
  if (::bind(s.fd, reinterpret_cast<const sockaddr*>(&a.addr), a.len) != 0) return errno;
  out.reset();
  out.fd = std::move(s);
  out.path = path;
  out.leftover = remember_leftover(path);
  return 0;
}

int send_dgram(int fd, const std::string& path, wire::Bytes bytes) {
  UnixAddress a = unix_address(path);
  ssize_t n = ::sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
                       reinterpret_cast<const sockaddr*>(&a.addr), a.len);
  if (n < 0) return errno;
  return static_cast<std::size_t>(n) == bytes.size() ? 0 : EMSGSIZE;
}

int probe_dgram(const std::string& path) {
  UnixAddress a = unix_address(path);
  Fd s = dgram_socket();
  if (s.fd < 0) return errno;
  if (::connect(s.fd, reinterpret_cast<const sockaddr*>(&a.addr), a.len) != 0) return errno;
  return 0;
}

std::optional<Received> recv_dgram(int fd, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // Rounded up, so the wait never ends before the deadline.
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) left = std::chrono::milliseconds(0);
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return std::nullopt;
    if (r == 0) {
      if (std::chrono::steady_clock::now() < deadline) continue;
      return std::nullopt;
    }
    // Peek with MSG_TRUNC for the datagram's real size, then take it whole.
    ssize_t size = ::recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (size < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return std::nullopt;
    }
    Received got;
    got.bytes.resize(static_cast<std::size_t>(size));
    sockaddr_un from{};
    socklen_t from_len = sizeof from;
    ssize_t n = ::recvfrom(fd, got.bytes.data(), got.bytes.size(), MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return std::nullopt;
    }
    got.bytes.resize(static_cast<std::size_t>(n));
    std::size_t path_len =
        from_len > offsetof(sockaddr_un, sun_path) ? from_len - offsetof(sockaddr_un, sun_path) : 0;
    got.sender.assign(from.sun_path, strnlen(from.sun_path, path_len));
    return got;
  }
}

}  // namespace client
