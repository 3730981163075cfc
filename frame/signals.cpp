// Signal handling. SIGTERM stops the loop, SIGHUP sends a heartbeat, SIGINT
// cleans up and exits. Any of them interrupting the blocking select also ends
// the loop (select is never restarted).
#include <cstdio>
#include <cstdlib>

#include "frame/frame.h"
#include "platform/corvan.h"

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
  install_or_exit(SIGTERM, "Cound not install new SIGTERM handler: Restoring",
                  "Cound not restore old SIGTERM handler: Exiting");
  install_or_exit(SIGHUP, "Cound not install new SIGHUP handler: Restoring",
                  "Cound not restore old SIGHUP handler: Exiting");
}

void sb_sig_handler(int signo) {
  switch (signo) {
    case SIGTERM:
      main_loop = 0;
      break;
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
