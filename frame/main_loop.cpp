#include "frame/main_loop.h"

#include <stdio_ext.h>
#include <sys/select.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "dpplog/intake.h"
#include "dpplog/log_files.h"
#include "frame/frame.h"
#include "frame/vesk_request.h"
#include "platform/clock.h"
#include "platform/corvan.h"
#include "platform/output.h"
#include "xipc/xipc_comm.h"

namespace {

// A descriptor select() cannot hold is never added to the set.
bool add_fd(int fd, fd_set* set, int* nfds) {
  if (fd < 0 || fd >= FD_SETSIZE) return false;
  FD_SET(fd, set);
  if (fd + 1 > *nfds) *nfds = fd + 1;
  return true;
}

// Standard output is written out when its oldest unwritten line is 100 ms
// old, and sooner once the daemon has had nothing to do for 5 ms: a busy
// loop writes it in batches, an idle daemon's lines are out at once.
constexpr std::int64_t kOutputDelayMs = 100;
constexpr std::int64_t kOutputIdleMs = 5;
// When standard output's oldest unwritten line is due; 0 when none waits.
std::int64_t g_output_due = 0;

// Work that waits for a time rather than for a descriptor: lines in standard
// output's buffer, records in the log files' buffers and a heartbeat count
// not yet written out. Milliseconds until the first of it is due (0: now), or
// -1 when nothing waits. Looking costs no system call.
int due_in_ms() {
  std::int64_t due = dpp_files_flush_due_ms();
  const std::int64_t beat = corvan_heartbeat_due_ms();
  if (beat >= 0 && (due < 0 || beat < due)) due = beat;
  const bool output_waits = __fpending(stdout) != 0;
  if (!output_waits) g_output_due = 0;
  if (due < 0 && !output_waits) return -1;
  const std::int64_t now = monotonic_ms();
  if (output_waits) {
    if (g_output_due == 0) g_output_due = now + kOutputDelayMs;
    const std::int64_t out = std::min(g_output_due, now + kOutputIdleMs);
    if (due < 0 || out < due) due = out;
  }
  // Nothing is due later than a second from now (a heartbeat count).
  return static_cast<int>(std::clamp<std::int64_t>(due - now, 0, 1000));
}

// After a time-out (the daemon was idle), or with something due now.
void write_out_what_is_due(bool idle) {
  flush_due_dpp_files();
  const long long beat = corvan_heartbeat_due_ms();
  if (beat >= 0 && beat <= monotonic_ms()) corvan_heartbeat_flush();
  if (g_output_due != 0 && (idle || g_output_due <= monotonic_ms())) {
    fflush(stdout);
    g_output_due = 0;
  }
}

// select on `watched` until a descriptor is ready (ready then holds them).
// What is due is written out first: a loop kept busy never times out. A
// time-out is not a pass of the loop: it writes out what is due and waits
// again. The result is select's, 0 or less ending the loop as before.
int wait_ready(int nfds, const fd_set& watched, fd_set* ready) {
  for (;;) {
    sayPendingSignals();
    const int ms = due_in_ms();
    if (ms == 0) {
      write_out_what_is_due(false);
      continue;
    }
    *ready = watched;  // select overwrites the set it is given
    // pselect takes the time-out as it is kept, with no conversion on the way.
    const timespec limit{ms / 1000, (ms % 1000) * 1000000L};
    const int n = pselect(nfds, ready, nullptr, nullptr, ms < 0 ? nullptr : &limit, nullptr);
    if (n != 0 || ms < 0) return n;
    write_out_what_is_due(true);
  }
}

}  // namespace

void runMainLoop(void) {
  const int handle = q;  // the VESK handle never changes while the loop runs
  while (main_loop) {
    if (card_id != kCardSpawnedByCorvan) corvan_keep_alive(pm_desciptor, 0);
    // Into standard output's buffer; it goes out with the next batch.
    static constexpr char kWaiting[] = "Waiting for a message...\n";
    fwrite(kWaiting, 1, sizeof kWaiting - 1, stdout);

    // sd is read afresh on every pass: a rebind during the previous VESK
    // request is watched from this pass on.
    const int xipc = sd;
    fd_set watched;
    FD_ZERO(&watched);
    int nfds = 0;
    add_fd(handle, &watched, &nfds);
    const bool watch_xipc = add_fd(xipc, &watched, &nfds);
    const int stop = stopPipeFd();
    const bool watch_stop = add_fd(stop, &watched, &nfds);

    fd_set readable;
    const int ready = wait_ready(nfds, watched, &readable);
    // A signal that ended the wait says what it did before select's error.
    exitIfInterrupted();
    sayPendingSignals();
    if (ready <= 0) {
      report_error("select");
      break;
    }
    // A SIGTERM between the test of main_loop and the wait: it stops the loop
    // as if it had come before the test.
    if (watch_stop && FD_ISSET(stop, &readable)) break;
    // VESK goes first; a datagram that is ready too waits for the next pass.
    if (handle >= 0 && handle < FD_SETSIZE && FD_ISSET(handle, &readable)) {
      if (processVESKreq(handle) == -1) break;
    } else if (watch_xipc && FD_ISSET(xipc, &readable)) {
      if (processKORUXIPCmsg(xipc) == -1) break;
    } else {
      puts("Error: Not sure what is set...");
      break;
    }
  }
}
