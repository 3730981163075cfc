// The host debug facility. Records of facility F are appended to
// $DRAVIK_PLATFORM_DIR/dbgfac/F.log and copied to the terminals added to F,
// which are listed in dbgfac/F.vtys.
#include "platform/dbgfac.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/host/append.h"
#include "platform/host/env.h"
#include "platform/host/fail.h"
#include "platform/host/layout.h"
#include "platform/host/reset.h"

namespace host {
namespace {

constexpr std::size_t kMaxFacilities = 8;
constexpr std::size_t kMaxFacilityName = 64;
constexpr std::size_t kMaxVtys = 32;
constexpr std::size_t kMaxVtyPath = 256;
// One record with its newline; a longer record is cut.
constexpr std::size_t kMaxRecord = 4096;

struct Facility {
  char name[kMaxFacilityName];
  std::size_t vty_count;
  char vtys[kMaxVtys][kMaxVtyPath];
};

Facility g_facilities[kMaxFacilities];
std::size_t g_facility_count = 0;

// A facility name becomes a file name: one path component, no separators.
bool valid_facility(std::string_view f) {
  return !f.empty() && f.size() < kMaxFacilityName && f != "." && f != ".." &&
         f.find('/') == std::string_view::npos;
}

Facility* find_facility(std::string_view name, bool create) {
  for (std::size_t i = 0; i < g_facility_count; ++i)
    if (name == g_facilities[i].name) return &g_facilities[i];
  if (!create || g_facility_count == kMaxFacilities) return nullptr;
  Facility* f = &g_facilities[g_facility_count++];
  *f = Facility{};
  name.copy(f->name, sizeof f->name - 1);
  return f;
}

PathBuf facility_file(std::string_view name, std::string_view ext) {
  PathBuf p = platform_path(layout::kDbgfac);
  p.add("/").add(name).add(ext);
  return p;
}

// The list file is replaced whole (write aside, then rename), so a reader
// never sees half a list.
int write_vty_list(const Facility& f) {
  PathBuf path = facility_file(f.name, layout::kFacilityVtys);
  PathBuf tmp = facility_file(f.name, ".vtys.new");
  if (!path.ok() || !tmp.ok()) return -1;
  static char text[kMaxVtys * kMaxVtyPath];
  std::size_t n = 0;
  for (std::size_t i = 0; i < f.vty_count; ++i) {
    std::size_t len = std::strlen(f.vtys[i]);
    std::memcpy(text + n, f.vtys[i], len);
    n += len;
    text[n++] = '\n';
  }
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0) return -1;
  bool ok = write(fd, text, n) == static_cast<ssize_t>(n);
  close(fd);
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return -1;
  }
  return 0;
}

// Writes to a terminal that may be a FIFO whose reader left: the write fails
// with EPIPE, and the SIGPIPE it raises is held blocked and taken back here
// instead of ending the daemon.
void write_without_sigpipe(int fd, const void* data, std::size_t n) {
  sigset_t pipe_set, old_mask, pending;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  sigprocmask(SIG_BLOCK, &pipe_set, &old_mask);
  sigpending(&pending);
  bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  ssize_t w = write(fd, data, n);
  if (w < 0 && errno == EPIPE && !was_pending) {
    timespec no_wait{};
    sigtimedwait(&pipe_set, nullptr, &no_wait);
  }
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
}

// Non-blocking and without becoming the controlling terminal: a terminal
// that is gone, full or has no reader loses this record and nothing else.
void write_terminal(const char* vty, const void* data, std::size_t n) {
  int fd = open(vty, O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  write_without_sigpipe(fd, data, n);
  close(fd);
}

}  // namespace

void dbgfac_reset() {
  g_facility_count = 0;
  for (Facility& f : g_facilities) f = Facility{};
}

}  // namespace host

extern "C" int dbgfac_init(const char* /*name*/, int /*flags*/, int /*handle*/) {
  if (host::fail_now(host::FailOp::dbgfac_init)) return -1;
  return 0;
}

extern "C" void klaxo(int /*level*/, const char* facility, int /*flags*/, const char* format, ...) {
  if (facility == nullptr || !host::valid_facility(facility) || format == nullptr) return;
  char record[host::kMaxRecord + 1];
  va_list ap;
  va_start(ap, format);
  // Room is kept for the newline after the (possibly cut) text.
  int n = std::vsnprintf(record, host::kMaxRecord, format, ap);
  va_end(ap);
  if (n < 0) return;
  std::size_t len = static_cast<std::size_t>(n) < host::kMaxRecord - 1 ? static_cast<std::size_t>(n)
                                                                       : host::kMaxRecord - 1;
  record[len++] = '\n';

  // The facility's log keeps every record it took, appended by whoever
  // writes to the facility with one O_APPEND write each, and read by the
  // tools and tests from its start. It is not wrapped: writers that share it
  // would have to agree on a position, and readers would lose records from
  // under them. A platform directory lives as long as its session.
  host::PathBuf log = host::facility_file(facility, layout::kFacilityLog);
  if (log.ok()) host::append_record(log.c_str(), record, len);
  const host::Facility* f = host::find_facility(facility, false);
  if (f == nullptr) return;
  for (std::size_t i = 0; i < f->vty_count; ++i) host::write_terminal(f->vtys[i], record, len);
}

extern "C" int dbgfac_vty_notify(int /*unused*/, int op, const char* facility, const char* vty) {
  if (facility == nullptr || vty == nullptr || !host::valid_facility(facility)) {
    errno = EINVAL;
    return -1;
  }
  std::string_view path(vty);
  // One path a line in the list file: a path cannot hold a newline.
  if (path.empty() || path.size() >= host::kMaxVtyPath ||
      path.find('\n') != std::string_view::npos) {
    errno = EINVAL;
    return -1;
  }
  if (op != DBGFAC_VTY_ADD && op != DBGFAC_VTY_REMOVE) {
    errno = EINVAL;
    return -1;
  }
  host::Facility* f = host::find_facility(facility, op == DBGFAC_VTY_ADD);
  if (f == nullptr) {
    if (op == DBGFAC_VTY_REMOVE) return 0;
    errno = ENOSPC;
    return -1;
  }
  std::size_t at = 0;
  while (at < f->vty_count && path != f->vtys[at]) ++at;
  bool present = at < f->vty_count;
  if (op == DBGFAC_VTY_ADD) {
    if (present) return 0;
    if (f->vty_count == host::kMaxVtys) {
      errno = ENOSPC;
      return -1;
    }
    char* slot = f->vtys[f->vty_count++];
    path.copy(slot, host::kMaxVtyPath - 1);
    slot[path.size()] = '\0';
  } else {
    if (!present) return 0;
    for (std::size_t i = at + 1; i < f->vty_count; ++i)
      std::memcpy(f->vtys[i - 1], f->vtys[i], host::kMaxVtyPath);
    --f->vty_count;
  }
  return host::write_vty_list(*f);
}
