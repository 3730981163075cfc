// Signal handling. SIGTERM stops the loop, SIGHUP sends a heartbeat, SIGINT
// cleans up and exits. Any of them interrupting the blocking select also ends
// the loop (select is never restarted).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "frame/frame.h"
#include "platform/corvan.h"

namespace {
// The stop pipe: SIGTERM writes a byte into it, and the main loop watches its
// read end beside its sockets. A SIGTERM that arrives after the loop last
// tested main_loop but before it blocks still wakes it.
int g_stop_pipe[2] = {-1, -1};
}  // namespace

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
  if (g_stop_pipe[0] < 0 && pipe2(g_stop_pipe, O_NONBLOCK | O_CLOEXEC) != 0) perror("pipe");
  install_or_exit(SIGTERM, "Cound not install new SIGTERM handler: Restoring",
                  "Cound not restore old SIGTERM handler: Exiting");
  install_or_exit(SIGHUP, "Cound not install new SIGHUP handler: Restoring",
                  "Cound not restore old SIGHUP handler: Exiting");
}

void sb_sig_handler(int signo) {
  switch (signo) {
    case SIGTERM: {
      main_loop = 0;
      const int saved = errno;
      if (g_stop_pipe[1] >= 0 && write(g_stop_pipe[1], "", 1) < 0) {
        // A full pipe already holds a wake-up.
      }
      errno = saved;
      break;
    }
    case SIGHUP:
      if (card_id != kCardSpawnedByCorvan) {
        corvan_keep_alive(pm_desciptor, 0);
        printf("%s: dravik sent heartbeat \n", "sb_sig_handler");
      }
      break;
    default:
      printf("%s: unknown signal %d \n", "sb_sig_handler", signo);
      break;
  }
}

void sigint_handler(int) {
  cleanupAndExit();
  exit(-1);
}
}
