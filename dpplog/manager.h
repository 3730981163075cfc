// The DPP debug log manager's start and its release; its settings and DPP
// sets are in state.h, the per-DPP files in log_files.h.
//
// States:
//   Not started  num_dpps 0, no per-DPP array.
//   Running      after init_koru_dbg_mgr returned 0.
//   Released     after cleanup_koru: num_dpps is 0 again and the file
//                writer's per-DPP arrays are released, so the intake sends
//                every record to klaxo, send_flag_to_dpps sends nothing, and
//                the control requests (which still get their replies) reach
//                no per-DPP entry.
#pragma once

#include <cstdint>

#include "dpplog/state.h"

extern "C" {

// Starts the manager with the daemon's VESK handle and XIPC descriptor.
// 0 when running, -1 when not (main then calls cleanup_koru). Ends the process
// with status 1 on an inconsistent category table, and with -1 when handle is
// -1 or an opcode cannot be registered.
int init_koru_dbg_mgr(int handle, int xipc_fd);

// Closes the open log files, releases the per-DPP arrays and unbinds debug_q
// (0 afterwards); returns vesk_unbind's result. Leaves the Released state.
int cleanup_koru(void);

// The current category set.
std::uint32_t get_current_flags(void);
}

// Releases the per-DPP log files and their arrays (log_files.h) and sets
// num_dpps to 0: the first half of cleanup_koru; the handle is left.
void release_dpp_tables(void);
