// AF_UNIX datagram sockets as the host platform uses them: the shared plumbing
// of the VESK and XIPC peers. Every socket is non-blocking, so no send of a
// tool or test can stall on a peer that does not read (EAGAIN instead).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/be.h"

namespace client {

// Owns one descriptor and closes it on destruction. Move-only.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
  Fd& operator=(Fd&& o) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  void reset();
};

// A datagram socket bound at `path`; the path is removed on destruction.
// Its path is held as a leftover (leftovers.h) while it is bound.
struct BoundSocket {
  Fd fd;
  std::string path;
  int leftover = -1;
  BoundSocket() = default;
  BoundSocket(BoundSocket&& o) noexcept;
  BoundSocket& operator=(BoundSocket&& o) noexcept;
  ~BoundSocket();
  void reset();  // closes the socket and removes its path
};

// A non-blocking AF_UNIX SOCK_DGRAM socket; fd -1 when it cannot be created.
Fd dgram_socket();

// Binds a new socket at path, replacing a stale socket file there. 0, or an
// errno (the holder is left empty). Throws PathTooLong for a path too long.
int bind_dgram(const std::string& path, BoundSocket& out);

// Sends one datagram to the socket at path. 0, or an errno (ENOENT or
// ECONNREFUSED when nothing is bound there, EAGAIN when its queue is full).
int send_dgram(int fd, const std::string& path, wire::Bytes bytes);

// Whether a socket is bound at path, found by connecting to it (nothing is
// sent). 0, or an errno: ENOENT when there is no socket file, ECONNREFUSED
// when nothing is bound to it any more.
int probe_dgram(const std::string& path);

struct Received {
  std::vector<std::uint8_t> bytes;
  std::string sender;  // the sender's bound path; empty when it had none
};

// Waits up to timeout for one datagram on fd and receives it whole.
std::optional<Received> recv_dgram(int fd, std::chrono::milliseconds timeout);

}  // namespace client
