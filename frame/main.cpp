// dravik: the debug-relay daemon of the service line card.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dpplog/manager.h"
#include "frame/frame.h"
#include "frame/main_loop.h"
#include "generated/version.h"
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

static const char kUsage[] =
    "Usage: dravik PM_DESCRIPTOR RESTART LC_MODE HB_PERIOD EXTRA\n"
    "       dravik --help | --version\n"
    "\n"
    "The debug-relay daemon of the service line card: relays per-port debug commands\n"
    "to the DPP cores, keeps the DPPs' log settings in step and writes their log\n"
    "records to per-DPP log files or the debug facility. It runs in the foreground\n"
    "until SIGTERM and prints what it does on standard output.\n"
    "\n"
    "The five arguments are required on every card type but 163, whose daemon the\n"
    "system manager starts without arguments (they are then ignored):\n"
    "  PM_DESCRIPTOR  decimal; the system manager's descriptor that heartbeats name\n"
    "  RESTART        decimal; stored for the platform, not read by the daemon\n"
    "  LC_MODE        decimal, cut to a byte; stored, not read\n"
    "  HB_PERIOD      decimal; stored, not read (heartbeats go once per loop pass)\n"
    "  EXTRA          required, never read\n"
    "With fewer, it prints \"Passed less than 6 required arguments\" and exits with\n"
    "status 255. The host platform is set up by DRAVIK_PLATFORM_DIR, DRAVIK_FS_ROOT,\n"
    "DRAVIK_CARD_ID and DRAVIK_FAIL; see dravik(8).\n";

// Exactly one argument, --help or --version, is answered before anything
// starts, whatever the card type; every other argument list is the start's.
static bool answered_before_start(int argc, char** argv) {
  if (argc != 2) return false;
  if (strcmp(argv[1], "--help") == 0) {
    fputs(kUsage, stdout);
    return true;
  }
  if (strcmp(argv[1], "--version") == 0) {
    printf("dravik %s%s%s%s\n", DRAVIK_VERSION, *DRAVIK_COMMIT ? " (commit " : "", DRAVIK_COMMIT,
           *DRAVIK_COMMIT ? ")" : "");
    return true;
  }
  return false;
}

int main(int argc, char** argv) {
  if (answered_before_start(argc, argv)) return 0;
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
