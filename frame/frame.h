// The daemon's process frame: its process-wide settings, its two descriptors,
// start-up, signals and shutdown.
#pragma once

#include <csignal>
#include <cstdint>

#include "wire/opcodes.h"

extern "C" {

// Process-wide settings. The five settings and the three build-identification
// arrays are exported under these exact names; the platform finds them in the
// executable's symbol table.
extern std::uint16_t card_id;            // from card_id_get at start
extern int process_spawned_by_corvan;    // 1 on card type 163
extern int pm_desciptor;                 // argument 1: heartbeat identity
extern int restart;                      // argument 2, stored only
extern std::uint8_t lc_mode;             // argument 3, stored only
extern int h_b_period;                   // argument 4, stored only (100)
extern int ha_support;                   // stored only
extern volatile sig_atomic_t main_loop;  // cleared by SIGTERM
extern int q;                            // the VESK handle (SAP 930)
extern struct sigaction sigint;          // the SIGINT disposition

extern const char tgt_data[200];
extern const char tree_loc[200];
extern const char image_name[200];

// Start-up: the signal handlers, an empty subscription map, the VESK handle on
// SAP 930 registered for 922, and the XIPC socket on the daemon's port.
// 0, or -1 when the daemon cannot run.
int initialize(void);
// Installs sigint_handler for SIGINT; the result of sigaction.
int initSignalHandler(void);
// Installs sb_sig_handler for SIGTERM and SIGHUP; exits with status 1 when it
// cannot.
void sb_install_sig_handler(void);
// SIGTERM clears main_loop and wakes the loop; SIGHUP sends a heartbeat. Its
// line is printed by sayPendingSignals.
void sb_sig_handler(int signo);
// Asks the loop to clean up and exit with status -1 (exitIfInterrupted).
void sigint_handler(int signo);
// Releases the VESK handle and the XIPC socket; returns.
void cleanupAndExit(void);
// Binds the daemon's VESK handle on SAP 930 into q. 0, or -1.
int create_a_SAP(void);
}

// The descriptor that becomes readable once SIGTERM or SIGINT has asked the
// loop to stop (-1 when it could not be made).
int stopPipeFd(void);
// Prints the lines the signal handlers noted ("dravik sent heartbeat").
void sayPendingSignals(void);
// After a SIGINT: prints what the handlers noted, cleans up and exits with
// status -1. Returns when no SIGINT came.
void exitIfInterrupted(void);

// Binds SAP 930 into q again and registers it for opcode 922, after the log
// manager's release took the handle with it. 0, or -1 with q at -1.
int rebindAfterManagerRelease(void);

constexpr int kCardSpawnedByCorvan = 163;
