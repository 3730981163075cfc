// The DPP debug log manager's state, its start and its release.
//
// DPP n is numbered from 1: bit n-1 of every DPP set, index n of the per-DPP
// arrays, XIPC core 4 x (n-1).
//
// States:
//   Not started  num_dpps 0, no per-DPP array.
//   Running      after init_koru_dbg_mgr returned 0.
//   Released     after cleanup_koru: num_dpps is 0 again and the four array
//                pointers are null, so the intake sends every record to klaxo,
//                send_flag_to_dpps sends nothing, and the control requests
//                (which still get their replies) reach no per-DPP entry.
#pragma once

#include <cstdint>
#include <cstdio>

#include "dpplog/flag_table.h"

constexpr std::uint32_t kAllCategories = 0x1FFFFFFFu;
constexpr int kMaxDpps = 4;  // the most DPPs a card has
constexpr const char* kDppLogDir = "/cpp/plinder_dpp_logs/";
constexpr const char* kDppDebugFacility = "dpp_debug";

extern "C" {

extern int num_dpps;                // 1 or 4 once started; 0 otherwise
extern std::uint32_t plinder_dpps;  // DPPs taking part in DPP logging
extern std::uint32_t active_dpps;   // DPPs reported up
extern std::uint32_t dppmap;        // DPPs whose logging the supervisor enabled
extern std::uint32_t cur_flag;      // enabled categories, bit n-1 for category n
extern std::uint32_t cur_filters[kDppLogCategories][4];
extern std::uint8_t debug_level;  // sent with the flags; 6 at start
extern int debug_q;               // the VESK handle the manager replies on
extern char* output_filename;     // owned base name of the open log files

// Per-DPP arrays of num_dpps + 1 entries (index n serves DPP n); null while
// the manager is not running.
extern FILE** output_files;        // open log stream, or null
extern char** filenames;           // owned "%s.%d" name, or null
extern std::int32_t* last_time;    // time of the last time-stamp line
extern std::int32_t* last_lineno;  // lines since open or last wrap

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

// close_dpp_files (log_files.h), then frees the per-DPP arrays and sets num_dpps to 0 (the
// first half of cleanup_koru; the handle is left).
void release_dpp_tables(void);

// True when DPP dpp has an entry in the per-DPP arrays and an open log file.
bool dpp_has_log_file(int dpp);
