// Signal handling. SIGTERM stops the loop, SIGHUP sends a heartbeat, SIGINT
// cleans up and exits. Any of them interrupting the blocking select also ends
// the loop (select is never restarted).
//
// Standard output is buffered, and a handler that printed into it could
// break a line the loop was printing: the handlers only note what they have
// to say, and the loop says it (sayPendingSignals) before it waits and as soon
// as the wait ends, so the lines come out where they did, ahead of select's
// error. SIGINT's clean-up and exit happen on the loop's side as well.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "frame/frame.h"
#include "platform/corvan.h"
#include "platform/output.h"

namespace {
// The stop pipe: SIGTERM writes a byte into it, and the main loop watches its
// read end beside its sockets. A SIGTERM that arrives after the loop last
// tested main_loop but before it blocks still wakes it.
int g_stop_pipe[2] = {-1, -1};

volatile sig_atomic_t g_heartbeat_lines = 0;  // SIGHUP heartbeats not yet told
volatile sig_atomic_t g_unknown_signal = 0;   // a signal number not yet told
volatile sig_atomic_t g_sigint = 0;           // SIGINT came: clean up and exit

// Wakes the loop's wait.
void wake_loop() {
  const int saved = errno;
  if (g_stop_pipe[1] >= 0 && write(g_stop_pipe[1], "", 1) < 0) {
    // A full pipe already holds a wake-up.
  }
  errno = saved;
}
}  // namespace

void sayPendingSignals(void) {
  if ((g_heartbeat_lines | g_unknown_signal) == 0) return;
  while (g_heartbeat_lines > 0) {
    g_heartbeat_lines = g_heartbeat_lines - 1;
    printf("%s: dravik sent heartbeat \n", "sb_sig_handler");
  }
  if (g_unknown_signal != 0) {
    printf("%s: unknown signal %d \n", "sb_sig_handler", static_cast<int>(g_unknown_signal));
    g_unknown_signal = 0;
  }
}

void exitIfInterrupted(void) {
  if (g_sigint == 0) return;
  sayPendingSignals();
  cleanupAndExit();
  exit(-1);
}

int stopPipeFd(void) { return g_stop_pipe[0]; }

extern "C" {

int initSignalHandler(void) {
  sigint.sa_handler = sigint_handler;
  sigemptyset(&sigint.sa_mask);
  sigint.sa_flags = 0;
  return sigaction(SIGINT, &sigint, nullptr);
}

// Installs sb_sig_handler for one signal. When that fails, the old handler
// cannot be put back either (the call that failed returned SIG_ERR, which is
// no handler), and the daemon gives up.
static void install_or_exit(int signo, const char* install_msg, const char* restore_msg) {
  sighandler_t old = signal(signo, sb_sig_handler);
  if (old != SIG_ERR) return;
  printf("%s", install_msg);
  if (signal(signo, old) == SIG_ERR) {
    printf("%s", restore_msg);
    exit(1);
  }
}

void sb_install_sig_handler(void) {
  if (g_stop_pipe[0] < 0 && pipe2(g_stop_pipe, O_NONBLOCK | O_CLOEXEC) != 0) report_error("pipe");
  install_or_exit(SIGTERM, "Cound not install new SIGTERM handler: Restoring",
                  "Cound not restore old SIGTERM handler: Exiting");
  install_or_exit(SIGHUP, "Cound not install new SIGHUP handler: Restoring",
                  "Cound not restore old SIGHUP handler: Exiting");
}

void sb_sig_handler(int signo) {
  switch (signo) {
    case SIGTERM:
      main_loop = 0;
      wake_loop();
      break;
    case SIGHUP:
      if (card_id != kCardSpawnedByCorvan) {
        corvan_keep_alive(pm_desciptor, 0);
        g_heartbeat_lines = g_heartbeat_lines + 1;
      }
      break;
    default:
      g_unknown_signal = signo;
      break;
  }
}

void sigint_handler(int) {
  g_sigint = 1;
  wake_loop();
}
}
