// VESK on a host: each SAP is an AF_UNIX datagram socket at
// $DRAVIK_PLATFORM_DIR/vesk/<sap>; requests and replies are the frames of
// wire/vesk_frame.h.
#include "platform/vesk.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/host/env.h"
#include "platform/host/fail.h"
#include "platform/host/vesk_table.h"
#include "wire/be.h"
#include "wire/vesk_frame.h"

namespace host {
namespace {

namespace vf = wire::vesk_frame;
static_assert(VESK_MAX_PAYLOAD == vf::kMaxPayload);
static_assert(sizeof(vesk_msg_t::sender) >= sizeof(sockaddr_un));

SapSlot g_saps[kMaxVeskHandles];
int g_last_errno = 0;  // failures on a descriptor outside the table

bool sap_addr(int sap, sockaddr_un* addr, socklen_t* len) {
  PathBuf name;
  name.add_u(static_cast<unsigned>(sap));
  return socket_addr("vesk", name.view(), addr, len);
}

int fail_with(int handle, int err) {
  sap_note_errno(handle, err);
  errno = err;
  return -1;
}

}  // namespace

SapSlot* sap_slot(int handle) {
  if (handle < 0 || handle >= kMaxVeskHandles || !g_saps[handle].bound) return nullptr;
  return &g_saps[handle];
}

void sap_note_errno(int handle, int err) {
  if (handle >= 0 && handle < kMaxVeskHandles)
    g_saps[handle].last_errno = err;
  else
    g_last_errno = err;
}

void vesk_reset() {
  for (SapSlot& s : g_saps) s = SapSlot{};
  g_last_errno = 0;
  vesk_options_reset();
}

}  // namespace host

using host::SapSlot;
namespace vf = wire::vesk_frame;

extern "C" int vesk_bind(int /*type*/, int sap, const void* /*addr*/, const char* /*name*/) {
  if (host::fail_now(host::FailOp::vesk_bind)) return -1;
  if (sap < 0) {
    errno = EINVAL;
    return -1;
  }
  sockaddr_un addr;
  socklen_t len;
  if (!host::sap_addr(sap, &addr, &len)) return -1;
  // Blocking for receiving (the daemon receives only what select announced);
  // every send passes MSG_DONTWAIT instead.
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (fd >= host::kMaxVeskHandles) {
    close(fd);
    errno = EMFILE;
    return -1;
  }
  // A socket file left by a process that died is stale: replace it.
  unlink(addr.sun_path);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0 ||
      host::set_socket_mode(addr.sun_path) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  host::g_saps[fd] = SapSlot{true, sap, 0};
  return fd;
}

extern "C" int vesk_unbind(int handle, int /*flags*/) {
  SapSlot* slot = host::sap_slot(handle);
  if (slot == nullptr) {
    errno = EBADF;
    return -1;
  }
  int sap = slot->sap;
  *slot = SapSlot{};
  host::vesk_options_release(handle, sap);
  sockaddr_un addr;
  socklen_t len;
  if (host::sap_addr(sap, &addr, &len)) unlink(addr.sun_path);
  return close(handle);
}

extern "C" int vesk_recv(int handle, vesk_msg_t* msg, int /*flags*/) {
  msg->opcode = msg->flags = msg->tag = 0;
  msg->payload_len = 0;
  msg->sender_len = 0;
  if (host::fail_now(host::FailOp::vesk_recv)) return host::fail_with(handle, EIO);

  // The header lands in its own buffer and the payload straight in the
  // record; a datagram longer than both is cut by the socket, never written
  // past them. A short one leaves the rest of the header zero.
  std::uint8_t header[vf::kRequestHeader] = {};
  iovec iov[2] = {{header, sizeof header}, {msg->payload, VESK_MAX_PAYLOAD}};
  msghdr mh{};
  mh.msg_name = msg->sender;
  mh.msg_namelen = sizeof msg->sender;
  mh.msg_iov = iov;
  mh.msg_iovlen = 2;
  ssize_t n = recvmsg(handle, &mh, 0);
  if (n < 0) {
    int err = errno;
    msg->payload[0] = 0;
    return host::fail_with(handle, err);
  }
  std::size_t payload = static_cast<std::size_t>(n) > vf::kRequestHeader
                            ? static_cast<std::size_t>(n) - vf::kRequestHeader
                            : 0;
  // Zero everything past the received bytes: a record reused after a longer
  // message holds no trace of it.
  std::memset(msg->payload + payload, 0, sizeof msg->payload - payload);
  msg->opcode = wire::get_u32(header, vf::kOpcode);
  msg->flags = wire::get_u32(header, vf::kFlags);
  msg->tag = wire::get_u32(header, vf::kTag);
  msg->payload_len = static_cast<std::int32_t>(payload);
  msg->sender_len = mh.msg_namelen;
  return msg->payload_len;
}

extern "C" int vesk_errno_get(int handle) {
  if (handle >= 0 && handle < host::kMaxVeskHandles) return host::g_saps[handle].last_errno;
  return host::g_last_errno;
}

extern "C" std::uint32_t vesk_opc_get(const vesk_msg_t* msg) { return msg->opcode; }

extern "C" void* vesk_payload_get(vesk_msg_t* msg) { return msg->payload; }

extern "C" int vesk_is_reject(const vesk_msg_t* msg) { return (msg->flags & vf::kFlagReject) != 0; }

extern "C" int vesk_send(int handle, const void* header, int /*hflags*/, const void* payload,
                         int len, int /*flags*/, vesk_msg_t* req, int /*flags2*/) {
  if (host::fail_now(host::FailOp::vesk_send)) return host::fail_with(handle, EIO);
  if (len < 0 || (len > 0 && payload == nullptr) || header == nullptr) {
    return host::fail_with(handle, EINVAL);
  }
  // An unbound requester has only the family in its address: nothing to
  // reply to.
  if (req->sender_len <= sizeof(sa_family_t) || req->sender_len > sizeof req->sender) {
    return host::fail_with(handle, EDESTADDRREQ);
  }
  std::uint8_t head[vf::kReplyPayload] = {};
  wire::put_raw(head, vf::kReplyHeader, header, vf::kReplyHeaderSize);
  wire::put_u32(head, vf::kReplyOpcode, req->opcode);
  wire::put_u32(head, vf::kReplyTag, req->tag);
  iovec iov[2] = {{head, sizeof head}, {const_cast<void*>(payload), static_cast<std::size_t>(len)}};
  msghdr mh{};
  mh.msg_name = req->sender;
  mh.msg_namelen = req->sender_len;
  mh.msg_iov = iov;
  mh.msg_iovlen = len > 0 ? 2 : 1;
  if (sendmsg(handle, &mh, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) return host::fail_with(handle, errno);
  return 0;
}

extern "C" int vesk_drop(int /*handle*/, vesk_msg_t* msg) {
  // The record is the caller's; dropping only makes it unusable for a reply.
  msg->sender_len = 0;
  return 0;
}
