// dravik: the debug-relay daemon of the service line card.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "dpplog/manager.h"
#include "frame/frame.h"
#include "frame/main_loop.h"
#include "platform/card.h"
#include "platform/corvan.h"
#include "xipc/xipc_comm.h"

// The log manager did not start: release its tables and go on without it.
// When its start got as far as taking the daemon's handle (the manager's
// handle is then the daemon's own), releasing the manager releases that handle
// too, so the daemon binds its SAP again: the relay and the loop still serve
// operators. The manager's replies go out on whatever handle the daemon has.
static void startWithoutLogManager(void) {
  const bool releases_daemon_handle = debug_q == q;
  cleanup_koru();
  // Without a handle (the bind failed) the loop still takes in the DPPs'
  // datagrams.
  if (releases_daemon_handle) rebindAfterManagerRelease();
  debug_q = q;
}

int main(int argc, char** argv) {
  card_id = 0;
  card_id_get(&card_id);

  if (card_id == kCardSpawnedByCorvan) {
    process_spawned_by_corvan = 1;
  } else {
    if (argc < 6) {
      puts("Passed less than 6 required arguments");
      exit(-1);
    }
    pm_desciptor = static_cast<int>(strtol(argv[1], nullptr, 10));
    restart = static_cast<int>(strtol(argv[2], nullptr, 10));
    lc_mode = static_cast<std::uint8_t>(strtol(argv[3], nullptr, 10));
    h_b_period = static_cast<int>(strtol(argv[4], nullptr, 10));
    ha_support = 0;
  }
  // Standard output stays buffered: the loop writes it out in batches, and
  // before anything is sent or written to standard error (platform/output.h).

  // Terminals and FIFOs given by operators may lose their reader at any time;
  // a write to one must fail, not end the daemon.
  signal(SIGPIPE, SIG_IGN);

  if (initialize() == -1) {
    cleanupAndExit();
    exit(-1);
  }
  if (card_id == kCardSpawnedByCorvan) corvan_handshake(q, 84);
  if (init_koru_dbg_mgr(q, fd_xipc) == -1) startWithoutLogManager();

  runMainLoop();
  cleanupAndExit();
  return 0;
}
