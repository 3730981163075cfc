// VESK on a host: each SAP is an AF_UNIX datagram socket at
// $DRAVIK_PLATFORM_DIR/vesk/<sap>; requests and replies are the frames of
// wire/vesk_frame.h. Option words and opcode registrations belong to the SAP
// they were set on: a registration is visible to the platform's notification
// senders as the empty file $DRAVIK_PLATFORM_DIR/vesk/reg/<opcode>/<sap>, and
// goes with the SAP's unbind.
//
// One process owns a SAP of a platform directory: the first bind of the SAP
// takes an exclusive flock on $DRAVIK_PLATFORM_DIR/vesk/<sap>.lock, which
// holds the owner's pid, and keeps it until the process ends. A second daemon
// on the same directory is refused before it touches anything of the first;
// the lock of a daemon that was killed went with its process.
#include "platform/vesk.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/host/env.h"
#include "platform/host/fail.h"
#include "platform/host/layout.h"
#include "platform/host/reset.h"
#include "platform/host/socket_file.h"
#include "wire/be.h"
#include "wire/vesk_frame.h"

namespace host {
namespace {

// A handle is the descriptor of the SAP's socket, so the table is indexed by
// descriptor; descriptors past its end are refused at bind time.
constexpr int kMaxVeskHandles = 1024;

struct SapSlot {
  bool bound = false;
  int sap = 0;
  int last_errno = 0;  // what vesk_errno_get reports
  SocketFile file;     // what the bind made at the SAP's path
};

namespace vf = wire::vesk_frame;
static_assert(VESK_MAX_PAYLOAD == vf::kMaxPayload);
static_assert(sizeof(vesk_msg_t::sender) >= sizeof(sockaddr_un));

SapSlot g_saps[kMaxVeskHandles];
int g_last_errno = 0;  // failures on a descriptor outside the table

// The SAPs this process owns, each with the descriptor holding its lock.
constexpr std::size_t kMaxSapLocks = 64;
struct SapLock {
  int sap;
  int fd;
};
SapLock g_locks[kMaxSapLocks];
std::size_t g_lock_count = 0;

// The lock's descriptor is moved above the ones a daemon makes at its start,
// so that taking the lock does not change the numbers its sockets get.
constexpr int kLockFdFloor = 100;

// Names the live owner of sap on standard error, with the pid that it wrote
// into the lock file.
void report_owner(int sap, int fd) {
  char text[24] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  long pid = 0;
  for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
    pid = pid * 10 + (text[i] - '0');
  std::fprintf(stderr, "vesk: SAP %d in %s is in use by process %ld\n", sap, platform_dir(), pid);
}

// Makes this process the owner of sap for the rest of its life, unless a
// live process owns it (EADDRINUSE, reported on standard error). The first
// owner of a platform directory records its card type there.
bool own_sap(int sap) {
  for (std::size_t i = 0; i < g_lock_count; ++i)
    if (g_locks[i].sap == sap) return true;
  if (g_lock_count == kMaxSapLocks) {
    errno = ENOSPC;
    return false;
  }
  PathBuf path = platform_path(layout::kVesk);
  path.add("/").add_u(static_cast<unsigned>(sap)).add(layout::kVeskLock);
  if (!path.ok()) return false;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    if (err == EWOULDBLOCK) {
      report_owner(sap, fd);
      err = EADDRINUSE;
    }
    close(fd);
    errno = err;
    return false;
  }
  char text[24];
  const int n = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
  // A lock whose pid could not be written still locks; a refused bind then
  // names no pid.
  [[maybe_unused]] const bool named =
      ftruncate(fd, 0) == 0 && pwrite(fd, text, static_cast<std::size_t>(n), 0) == n;
  const int high = fcntl(fd, F_DUPFD_CLOEXEC, kLockFdFloor);
  if (high >= 0) {
    close(fd);
    fd = high;
  }
  g_locks[g_lock_count++] = SapLock{sap, fd};
  if (g_lock_count == 1) record_card();
  return true;
}

bool sap_addr(int sap, sockaddr_un* addr, socklen_t* len) {
  PathBuf name;
  name.add_u(static_cast<unsigned>(sap));
  return socket_addr(layout::kVesk, name.view(), addr, len);
}

// The slot of a bound SAP of this process, or nullptr.
SapSlot* sap_slot(int handle) {
  if (handle < 0 || handle >= kMaxVeskHandles || !g_saps[handle].bound) return nullptr;
  return &g_saps[handle];
}

// Records a failure of an operation on `handle` for vesk_errno_get.
void sap_note_errno(int handle, int err) {
  if (handle >= 0 && handle < kMaxVeskHandles)
    g_saps[handle].last_errno = err;
  else
    g_last_errno = err;
}

int fail_with(int handle, int err) {
  sap_note_errno(handle, err);
  errno = err;
  return -1;
}

constexpr std::size_t kMaxOptionWords = 256;

struct OptionWord {
  bool used;
  int handle;
  std::uint32_t opcode;
  std::uint16_t word;
};

OptionWord g_words[kMaxOptionWords];

OptionWord* find_word(int handle, std::uint32_t opcode) {
  for (OptionWord& w : g_words)
    if (w.used && w.handle == handle && w.opcode == opcode) return &w;
  return nullptr;
}

PathBuf reg_dir(std::uint32_t opcode) {
  PathBuf p = platform_path(layout::kVeskReg);
  p.add("/").add_u(opcode);
  return p;
}

PathBuf reg_file(std::uint32_t opcode, int sap) {
  PathBuf p = reg_dir(opcode);
  p.add("/").add_u(static_cast<unsigned>(sap));
  return p;
}

bool add_registration(std::uint32_t opcode, int sap) {
  PathBuf dir = reg_dir(opcode);
  PathBuf file = reg_file(opcode, sap);
  if (!file.ok()) {
    errno = ENAMETOOLONG;
    return false;
  }
  if (mkdir(dir.c_str(), 0750) != 0 && errno != EEXIST) return false;
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool remove_registration(std::uint32_t opcode, int sap) {
  PathBuf file = reg_file(opcode, sap);
  if (!file.ok()) return false;
  return unlink(file.c_str()) == 0 || errno == ENOENT;
}

// Removes every registration file of handle (bound at sap) and forgets its
// option words.
void vesk_options_release(int handle, int sap) {
  for (OptionWord& w : g_words) {
    if (!w.used || w.handle != handle) continue;
    if (w.word & VESK_OPT_REGISTER) remove_registration(w.opcode, sap);
    w = OptionWord{};
  }
}

}  // namespace

void vesk_reset() {
  for (std::size_t i = 0; i < g_lock_count; ++i) close(g_locks[i].fd);
  g_lock_count = 0;
  for (SapSlot& s : g_saps) s = SapSlot{};
  g_last_errno = 0;
  for (OptionWord& w : g_words) w = OptionWord{};
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
  if (!host::sap_addr(sap, &addr, &len) || !host::own_sap(sap)) return -1;
  // Blocking for receiving (the daemon receives only what select announced);
  // every send passes MSG_DONTWAIT instead.
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (fd >= host::kMaxVeskHandles) {
    close(fd);
    errno = EMFILE;
    return -1;
  }
  host::SocketFile file;
  if (host::bind_socket_file(fd, addr, len, &file) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  host::g_saps[fd] = SapSlot{true, sap, 0, file};
  return fd;
}

extern "C" int vesk_unbind(int handle, int /*flags*/) {
  SapSlot* slot = host::sap_slot(handle);
  if (slot == nullptr) {
    errno = EBADF;
    return -1;
  }
  const SapSlot bound = *slot;
  *slot = SapSlot{};
  host::vesk_options_release(handle, bound.sap);
  sockaddr_un addr;
  socklen_t len;
  if (host::sap_addr(bound.sap, &addr, &len)) host::remove_socket_file(addr.sun_path, bound.file);
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

extern "C" int vesk_options_get(int handle, std::uint32_t opcode) {
  if (host::sap_slot(handle) == nullptr) {
    errno = EBADF;
    return -1;
  }
  const host::OptionWord* w = host::find_word(handle, opcode);
  return w != nullptr ? w->word : 0;
}

extern "C" int vesk_options_set(int handle, std::uint32_t opcode, std::uint16_t word) {
  if (host::fail_now(host::FailOp::vesk_options_set, opcode)) return -1;
  host::SapSlot* slot = host::sap_slot(handle);
  if (slot == nullptr) {
    errno = EBADF;
    return -1;
  }
  host::OptionWord* w = host::find_word(handle, opcode);
  if (w == nullptr) {
    for (host::OptionWord& free_word : host::g_words) {
      if (!free_word.used) {
        w = &free_word;
        break;
      }
    }
    if (w == nullptr) {
      errno = ENOSPC;
      return -1;
    }
    *w = host::OptionWord{true, handle, opcode, 0};
  }
  // The file follows the register bit; the word changes only when the file
  // could be made to match it.
  bool registered = (word & VESK_OPT_REGISTER) != 0;
  bool ok = registered ? host::add_registration(opcode, slot->sap)
                       : host::remove_registration(opcode, slot->sap);
  if (!ok) return -1;
  w->word = word;
  return 0;
}
