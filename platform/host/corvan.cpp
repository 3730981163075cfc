// The host system manager. Handshakes and dispatched messages are appended to
// $DRAVIK_PLATFORM_DIR/corvan/log; heartbeats are counted in memory and the
// count is written to $DRAVIK_PLATFORM_DIR/corvan/heartbeats at most about
// once a second.
//
// Nothing of the heartbeat file is mapped: a file that is truncated, or whose
// filesystem is full, makes a write fail instead of ending the process. The
// file is written with one pwrite of its whole line at offset 0 of a
// descriptor kept open, and before each write its path is checked to still
// name that file, so a file removed or replaced is made again.
#include "platform/corvan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <span>

#include "platform/clock.h"
#include "platform/host/append.h"
#include "platform/host/env.h"
#include "platform/host/layout.h"
#include "platform/host/reset.h"
#include "wire/be.h"
#include "wire/vesk_frame.h"

namespace host {
namespace {

// One line, printf("%020llu %011d\n", count, pm).
constexpr std::size_t kCountDigits = 20;
constexpr std::size_t kPmWidth = 11;
constexpr std::size_t kHeartbeatSize = kCountDigits + 1 + kPmWidth + 1;
static_assert(kHeartbeatSize == 33);

// How long a counted heartbeat may wait before the file shows it.
constexpr long long kWritePeriodMs = 1000;
constexpr long long kNeverTried = LLONG_MIN / 2;

// corvan_keep_alive runs in the main loop and in the SIGHUP handler, so its
// state is lock-free atomics, and the file is written by one of them at a
// time: the holder of g_writing. A heartbeat that finds it held has only
// counted; its count is written out with the next write.
std::atomic<std::uint64_t> g_count{0};
std::atomic<int> g_last_pm{0};
std::atomic<bool> g_writing{false};
// The last write tried (monotonic ms) and what the file shows since the last
// write that succeeded.
std::atomic<long long> g_last_try{kNeverTried};
std::atomic<bool> g_shown_valid{false};
std::atomic<std::uint64_t> g_shown{0};
std::atomic<int> g_shown_pm{0};
// The open heartbeat file and its identity; only the holder of g_writing
// touches them.
int g_fd = -1;
dev_t g_dev = 0;
ino_t g_ino = 0;
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic<long long>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// monotonic_ms is read without a system call, so a heartbeat that writes
// nothing costs a few instructions; it is async-signal-safe.

bool pending() {
  return !g_shown_valid.load() || g_count.load() != g_shown.load() ||
         g_last_pm.load() != g_shown_pm.load();
}

// Keeps g_fd open on the file the path names, making the file afresh (a new
// inode: a reader of an older process's file is not disturbed) when there is
// none yet or the path was removed or now names another file. Only system
// calls, no heap and no stdio: it may run in a signal handler.
bool open_heartbeats(const char* path) {
  struct stat st;
  if (g_fd >= 0) {
    if (stat(path, &st) == 0 && st.st_dev == g_dev && st.st_ino == g_ino) return true;
    close(g_fd);
    g_fd = -1;
  }
  int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  if (fd < 0) {
    unlink(path);
    fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  }
  if (fd < 0) return false;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return false;
  }
  g_fd = fd;
  g_dev = st.st_dev;
  g_ino = st.st_ino;
  return true;
}

// Writes v right-aligned in out[0..width), zero-padded.
void put_digits(char* out, std::size_t width, std::uint64_t v) {
  for (std::size_t i = width; i-- > 0;) {
    out[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

void format_line(char* m, std::uint64_t count, int pm) {
  put_digits(m, kCountDigits, count);
  m[kCountDigits] = ' ';
  char* p = m + kCountDigits + 1;
  // "%011d": a negative value is its sign followed by ten zero-padded digits.
  if (pm < 0) {
    p[0] = '-';
    put_digits(p + 1, kPmWidth - 1, static_cast<std::uint64_t>(-static_cast<std::int64_t>(pm)));
  } else {
    put_digits(p, kPmWidth, static_cast<std::uint64_t>(pm));
  }
  m[kHeartbeatSize - 1] = '\n';
}

// Writes the newest count and pm as the file's whole line. A write that
// fails (no space, no descriptor, no directory) leaves the count pending: it
// is tried again a period later. The whole line at offset 0 also mends a
// file that was truncated.
void write_out() {
  if (g_writing.exchange(true)) return;
  g_last_try.store(monotonic_ms());
  const std::uint64_t count = g_count.load();
  const int pm = g_last_pm.load();
  char line[kHeartbeatSize];
  format_line(line, count, pm);
  PathBuf path = platform_path(layout::kHeartbeats);
  if (path.ok() && open_heartbeats(path.c_str()) &&
      pwrite(g_fd, line, sizeof line, 0) == static_cast<ssize_t>(sizeof line)) {
    g_shown.store(count);
    g_shown_pm.store(pm);
    g_shown_valid.store(true);
  }
  g_writing.store(false);
}

void append_log(const char* line, int n) {
  if (n <= 0) return;
  PathBuf path = platform_path(layout::kCorvanLog);
  if (path.ok()) append_record(path.c_str(), line, static_cast<std::size_t>(n));
}

// The count of a process that ends between two writes (its last heartbeat
// may come from the SIGHUP that ends its loop) is written out as it exits.
struct FlushAtExit {
  ~FlushAtExit() { corvan_heartbeat_flush(); }
} g_flush_at_exit;

}  // namespace

void corvan_reset() {
  if (g_fd >= 0) close(g_fd);
  g_fd = -1;
  g_count.store(0);
  g_last_pm.store(0);
  g_writing.store(false);
  g_last_try.store(kNeverTried);
  g_shown_valid.store(false);
}

}  // namespace host

extern "C" void corvan_handshake(int /*handle*/, int n) {
  char line[32];
  host::append_log(line, std::snprintf(line, sizeof line, "handshake %d\n", n));
}

extern "C" int corvan_dispatch(vesk_msg_t* msg) {
  if ((msg->flags & wire::vesk_frame::kFlagCorvan) == 0) return -1;
  // The payload buffer is zero past the bytes received, so an empty or short
  // payload reads as zero-padded.
  auto result = static_cast<std::int32_t>(
      wire::get_u32(std::span<const std::uint8_t>(msg->payload, sizeof msg->payload), 0));
  char line[48];
  host::append_log(line, std::snprintf(line, sizeof line, "dispatch %u %d\n", msg->opcode, result));
  return result;
}

// The first heartbeat writes the file at once; every later one only counts
// unless a period has passed since the last write tried.
extern "C" void corvan_keep_alive(int pm, int /*arg*/) {
  using namespace host;
  g_last_pm.store(pm);
  g_count.fetch_add(1);
  if (monotonic_ms() - g_last_try.load() >= kWritePeriodMs) write_out();
}

extern "C" long long corvan_heartbeat_due_ms(void) {
  using namespace host;
  if (!pending() || g_last_try.load() == kNeverTried) return -1;
  return g_last_try.load() + kWritePeriodMs;
}

extern "C" void corvan_heartbeat_flush(void) {
  if (host::pending() && host::g_last_try.load() != host::kNeverTried) host::write_out();
}
