// The host debug facility. Records of facility F are appended to
// $DRAVIK_PLATFORM_DIR/dbgfac/F.log and copied to the terminals added to F,
// which are listed in dbgfac/F.vtys.
//
// The log file is kept open between records. About once a second a record
// first checks that the path still names the open file, and reopens it when
// the file was removed or replaced. A record that cannot be written is lost
// whole, and never silently: the first of a run of lost records is reported
// on standard error, and so is their number once records are written again.
#include "platform/dbgfac.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/clock.h"
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

// How often a record checks that the log's path still names the open file.
constexpr long long kLogCheckMs = 1000;

struct Facility {
  char name[kMaxFacilityName];
  std::size_t vty_count;
  char vtys[kMaxVtys][kMaxVtyPath];
  // The open log file, its identity, when to check the path next, and the
  // records lost since the last one written.
  int log_fd = -1;
  dev_t log_dev = 0;
  ino_t log_ino = 0;
  long long log_check_ms = 0;
  unsigned long long lost = 0;
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

void close_log(Facility& f) {
  if (f.log_fd >= 0) close(f.log_fd);
  f.log_fd = -1;
}

// Keeps f.log_fd open on the file the path names: opened when it is not, and
// reopened when a check finds the file removed or replaced. 0, or an errno.
int open_log(Facility& f, const char* path) {
  const long long now = monotonic_ms();
  struct stat st;
  if (f.log_fd >= 0 && now >= f.log_check_ms) {
    f.log_check_ms = now + kLogCheckMs;
    if (stat(path, &st) != 0 || st.st_dev != f.log_dev || st.st_ino != f.log_ino) close_log(f);
  }
  if (f.log_fd >= 0) return 0;
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return errno;
  if (fstat(fd, &st) != 0) {
    const int err = errno;
    close(fd);
    return err;
  }
  f.log_fd = fd;
  f.log_dev = st.st_dev;
  f.log_ino = st.st_ino;
  f.log_check_ms = now + kLogCheckMs;
  return 0;
}

// Appends the record with one write: whole records from every writer that
// shares the file, never interleaved. A write that took only part of it (a
// full filesystem) is cut back to where the record began, so the next record
// does not run into a piece of this one. 0, or an errno.
int append_whole(int fd, const char* record, std::size_t len) {
  const ssize_t w = write(fd, record, len);
  if (w == static_cast<ssize_t>(len)) return 0;
  const int err = w < 0 ? errno : ENOSPC;
  if (w > 0) {
    // Cutting a file shorter needs no space, so this works on a full
    // filesystem too.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end < w || ftruncate(fd, end - w) != 0) return errno;
  }
  return err;
}

// Writes one record to the facility's log and says on standard error when
// records start being lost and, once writing works again, how many were.
void log_record(Facility& f, const char* record, std::size_t len) {
  PathBuf path = facility_file(f.name, layout::kFacilityLog);
  int err = path.ok() ? open_log(f, path.c_str()) : ENAMETOOLONG;
  if (err == 0) err = append_whole(f.log_fd, record, len);
  if (err != 0) {
    if (f.lost++ == 0)
      std::fprintf(stderr, "dbgfac: %s: cannot write record to %s: %s; records are being lost\n",
                   f.name, path.c_str(), std::strerror(err));
    return;
  }
  if (f.lost == 0) return;
  std::fprintf(stderr, "dbgfac: %s: writing records to %s again; %llu %s lost\n", f.name,
               path.c_str(), f.lost, f.lost == 1 ? "record was" : "records were");
  f.lost = 0;
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
  for (Facility& f : g_facilities) {
    close_log(f);
    f = Facility{};
  }
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
  host::Facility* f = host::find_facility(facility, true);
  if (f == nullptr) {
    // More facilities than the table holds: the record is appended on a
    // descriptor of its own.
    host::PathBuf log = host::facility_file(facility, layout::kFacilityLog);
    if (log.ok()) host::append_record(log.c_str(), record, len);
    return;
  }
  host::log_record(*f, record, len);
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
