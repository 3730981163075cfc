// The host system manager. Handshakes and dispatched messages are appended to
// $DRAVIK_PLATFORM_DIR/corvan/log; heartbeats are counted in a shared mapping
// of $DRAVIK_PLATFORM_DIR/corvan/heartbeats.
#include "platform/corvan.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <span>

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

enum MapState : int { kUnmapped, kMapping, kMapped, kMapFailed };

// corvan_keep_alive runs in the main loop and in the SIGHUP handler, so its
// state is lock-free atomics: a handler that interrupts a heartbeat sees
// either the old or the new value, never half of one, and only one of them
// writes the line at a time.
std::atomic<std::uint64_t> g_count{0};
std::atomic<int> g_last_pm{0};
std::atomic<int> g_map_state{kUnmapped};
char* g_map = nullptr;
// What the mapped line shows, kept by whoever holds g_writing.
std::atomic<bool> g_writing{false};
std::atomic<bool> g_line_valid{false};
std::atomic<std::uint64_t> g_shown{0};
std::atomic<int> g_shown_pm{0};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// Creates the file afresh (a new inode: a reader of an older process's file
// is not disturbed) and maps it. Only system calls, no heap and no stdio,
// so it is safe even when the first heartbeat comes from a signal handler.
void map_heartbeats() {
  int expected = kUnmapped;
  if (!g_map_state.compare_exchange_strong(expected, kMapping)) return;
  PathBuf path = platform_path(layout::kHeartbeats);
  int fd = path.ok() ? open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0640) : -1;
  if (fd < 0 && path.ok()) {
    unlink(path.c_str());
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  }
  void* m = MAP_FAILED;
  if (fd >= 0 && ftruncate(fd, kHeartbeatSize) == 0)
    m = mmap(nullptr, kHeartbeatSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (fd >= 0) close(fd);
  if (m == MAP_FAILED) {
    g_map_state.store(kMapFailed);
    return;
  }
  g_map = static_cast<char*>(m);
  g_map_state.store(kMapped);
}

// Writes v right-aligned in out[0..width), zero-padded.
void put_digits(char* out, std::size_t width, std::uint64_t v) {
  for (std::size_t i = width; i-- > 0;) {
    out[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

void write_line(char* m, std::uint64_t count, int pm) {
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

// Adds one to the zero-padded count at the start of the line: the usual
// heartbeat changes its last digit or two, not all twenty.
void count_up(char* m) {
  for (std::size_t i = kCountDigits; i-- > 0;) {
    if (m[i] != '9') {
      ++m[i];
      return;
    }
    m[i] = '0';
  }
}

// Makes the line show the newest count and pm. The one heartbeat that holds
// g_writing writes; one that comes in the middle of it (from the SIGHUP
// handler) has only counted, and the holder shows that count before it lets
// go. A heartbeat after the holder let go takes the line itself.
void show_newest() {
  for (;;) {
    if (g_writing.exchange(true)) return;
    for (;;) {
      const std::uint64_t count = g_count.load();
      const int pm = g_last_pm.load();
      if (g_line_valid.load() && count == g_shown.load() + 1 && count != 0 &&
          pm == g_shown_pm.load())
        count_up(g_map);
      else if (!g_line_valid.load() || count != g_shown.load() || pm != g_shown_pm.load())
        write_line(g_map, count, pm);
      g_shown.store(count);
      g_shown_pm.store(pm);
      g_line_valid.store(true);
      if (g_count.load() == count && g_last_pm.load() == pm) break;
    }
    g_writing.store(false);
    if (g_count.load() == g_shown.load() && g_last_pm.load() == g_shown_pm.load()) return;
  }
}

void append_log(const char* line, int n) {
  if (n <= 0) return;
  PathBuf path = platform_path(layout::kCorvanLog);
  if (path.ok()) append_record(path.c_str(), line, static_cast<std::size_t>(n));
}

}  // namespace

void corvan_reset() {
  if (g_map_state.load() == kMapped) munmap(g_map, kHeartbeatSize);
  g_map = nullptr;
  g_count.store(0);
  g_last_pm.store(0);
  g_line_valid.store(false);
  g_writing.store(false);
  g_map_state.store(kUnmapped);
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

// The first heartbeat maps the file; the daemon sends it from its main loop
// before a SIGHUP can ask for one, and even if a signal comes first the
// mapping uses only system calls. Every later heartbeat is memory writes only,
// usually a digit or two.
extern "C" void corvan_keep_alive(int pm, int /*arg*/) {
  using namespace host;
  g_last_pm.store(pm);
  g_count.fetch_add(1);
  if (g_map_state.load() == kUnmapped) map_heartbeats();
  if (g_map_state.load() != kMapped) return;
  show_newest();
}
