// XIPC (family 31) on a host: each endpoint (core, module, port) is an AF_UNIX
// datagram socket at $DRAVIK_PLATFORM_DIR/xipc/<core>.<module>.<port>, and
// every datagram carries the sender's 20-byte XipcAddr before its payload.
// An endpoint's socket file belongs to the process that bound it (see
// platform/host/socket_file.h).
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/host/env.h"
#include "platform/host/fail.h"
#include "platform/host/layout.h"
#include "platform/host/socket_file.h"
#include "xipc/xipc.h"

namespace host {
namespace {

constexpr int kMaxXipcFds = 1024;
// The largest payload a frame may carry.
constexpr std::size_t kMaxXipcPayload = 65536;

struct XipcSlot {
  bool open;
  bool bound;
  XipcAddr addr;          // the bound endpoint; zero while unbound
  host::SocketFile file;  // what the bind made at the endpoint's path
};

XipcSlot g_xipc[kMaxXipcFds];

XipcSlot* xipc_slot(int fd) {
  if (fd < 0 || fd >= kMaxXipcFds || !g_xipc[fd].open) return nullptr;
  return &g_xipc[fd];
}

bool endpoint_addr(const XipcAddr& a, sockaddr_un* addr, socklen_t* len) {
  PathBuf name;
  name.add_u(a.core).add(".").add_u(a.module).add(".").add_u(a.port);
  return socket_addr(layout::kXipc, name.view(), addr, len);
}

// Checks an address argument as the kernel would: long enough and of family 31.
bool valid_addr(const XipcAddr* a, socklen_t len) {
  if (a == nullptr || len < kXipcAddrSize) {
    errno = EINVAL;
    return false;
  }
  if (a->family != AF_XIPC) {
    errno = EAFNOSUPPORT;
    return false;
  }
  return true;
}

}  // namespace
}  // namespace host

using host::XipcSlot;

extern "C" int xipc_socket(int family, int type, int /*protocol*/) {
  if (host::fail_now(host::FailOp::xipc_socket)) return -1;
  if (family != AF_XIPC || type != SOCK_DGRAM) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  // Blocking for receiving (the daemon receives what select announced);
  // every send passes MSG_DONTWAIT.
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (fd >= host::kMaxXipcFds) {
    close(fd);
    errno = EMFILE;
    return -1;
  }
  host::g_xipc[fd] = XipcSlot{true, false, {}, {}};
  return fd;
}

extern "C" int xipc_bind(int fd, const XipcAddr* addr, socklen_t addrlen) {
  if (host::fail_now(host::FailOp::xipc_bind)) return -1;
  XipcSlot* slot = host::xipc_slot(fd);
  if (slot == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (!host::valid_addr(addr, addrlen)) return -1;
  if (slot->bound) {
    errno = EINVAL;
    return -1;
  }
  sockaddr_un sa;
  socklen_t len;
  if (!host::endpoint_addr(*addr, &sa, &len)) return -1;
  if (host::bind_socket_file(fd, sa, len, &slot->file) != 0) return -1;
  slot->bound = true;
  slot->addr = XipcAddr{};
  slot->addr.family = AF_XIPC;
  slot->addr.core = addr->core;
  slot->addr.module = addr->module;
  slot->addr.port = addr->port;
  return 0;
}

extern "C" ssize_t xipc_sendto(int fd, const void* buf, size_t len, int /*flags*/,
                               const XipcAddr* dst, socklen_t dstlen) {
  if (host::fail_now(host::FailOp::xipc_sendto)) return -1;
  XipcSlot* slot = host::xipc_slot(fd);
  if (slot == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (!host::valid_addr(dst, dstlen)) return -1;
  if (len > host::kMaxXipcPayload || (len > 0 && buf == nullptr)) {
    errno = len > host::kMaxXipcPayload ? EMSGSIZE : EFAULT;
    return -1;
  }
  sockaddr_un sa;
  socklen_t salen;
  if (!host::endpoint_addr(*dst, &sa, &salen)) return -1;

  // The frame names its sender: our bound endpoint (zero while unbound) with
  // the message kind and length the destination address carries.
  XipcAddr from = slot->addr;
  from.family = AF_XIPC;
  from.opcode = dst->opcode;
  from.length = dst->length;
  std::uint8_t head[kXipcAddrSize];
  encode_xipc_addr(from, head);
  iovec iov[2] = {{head, sizeof head}, {const_cast<void*>(buf), len}};
  msghdr mh{};
  mh.msg_name = &sa;
  mh.msg_namelen = salen;
  mh.msg_iov = iov;
  mh.msg_iovlen = len > 0 ? 2 : 1;
  if (sendmsg(fd, &mh, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) return -1;
  return static_cast<ssize_t>(len);
}

extern "C" ssize_t xipc_recvfrom(int fd, void* buf, size_t len, int flags, XipcAddr* src,
                                 socklen_t* srclen) {
  if (host::fail_now(host::FailOp::xipc_recvfrom)) return -1;
  if (host::xipc_slot(fd) == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (len > 0 && buf == nullptr) {
    errno = EFAULT;
    return -1;
  }
  // The address lands in its own buffer and the payload straight in the
  // caller's: the socket cuts a longer datagram, and a frame shorter than an
  // address leaves the missing address bytes zero.
  std::uint8_t head[kXipcAddrSize] = {};
  iovec iov[2] = {{head, sizeof head}, {buf, len}};
  msghdr mh{};
  mh.msg_iov = iov;
  mh.msg_iovlen = len > 0 ? 2 : 1;
  ssize_t n = recvmsg(fd, &mh, flags & MSG_DONTWAIT);
  if (n < 0) return -1;
  if (src != nullptr && srclen != nullptr) {
    XipcAddr from = decode_xipc_addr(head);
    std::size_t room = *srclen < kXipcAddrSize ? *srclen : kXipcAddrSize;
    std::memcpy(src, &from, room);
    *srclen = kXipcAddrSize;
  }
  return n > static_cast<ssize_t>(kXipcAddrSize) ? n - static_cast<ssize_t>(kXipcAddrSize) : 0;
}

extern "C" int xipc_close(int fd) {
  XipcSlot* slot = host::xipc_slot(fd);
  if (slot != nullptr) {
    if (slot->bound) {
      sockaddr_un sa;
      socklen_t len;
      if (host::endpoint_addr(slot->addr, &sa, &len))
        host::remove_socket_file(sa.sun_path, slot->file);
    }
    *slot = XipcSlot{};
  }
  return close(fd);
}
