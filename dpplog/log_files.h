// The per-DPP log files: one ring of about 2 MiB per DPP under
// "/cpp/plinder_dpp_logs/", each linked from "/var/log/external/".
//
// A file holds records (the formatted text and one newline) and time-stamp
// lines ("#### <ctime text>" or "#### [<n> sec] <ctime text>"), at most one
// stamp per second of the clock and only ahead of a record.
//
// The file writer owns every per-DPP entry: the four exported arrays below and
// what it keeps of each stream besides (its write position, what waits in its
// buffer and since when, the records lost while writes fail).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "wire/set_debug_request.h"

// The position past which a log file wraps to its start.
constexpr long kLogFileWrap = 0x200000;
constexpr const char* kDppLogDir = "/cpp/plinder_dpp_logs/";
// How long a record may wait in a stream's buffer before the loop writes it
// out, so that a reader sees it even when no more records follow: it is in
// its file within 200 ms, the wake-up included.
constexpr std::int64_t kLogFlushDelayMs = 190;

// The clock of the time stamps; time(nullptr) unless a test sets another.
extern std::time_t (*dpplog_now)();
// The clock of the flush deadlines: monotonic_ms (platform/clock.h) unless a
// test sets another.
extern std::int64_t (*dpplog_now_ms)();

extern "C" {
extern char* output_filename;  // owned base name of the open set, or null

// Per-DPP arrays of one entry per DPP plus the unused entry 0 (index n serves
// DPP n); null while no tables are allocated.
extern FILE** output_files;        // open log stream, or null
extern char** filenames;           // owned "%s.%d" name, or null
extern std::int32_t* last_time;    // time of the last time-stamp line
extern std::int32_t* last_lineno;  // lines since open or last wrap

// Writes one record to DPP dpp's open log file, with a time-stamp line ahead
// of it when the clock has passed the last stamp. The caller makes sure the
// file is open (dpp_has_log_file); otherwise nothing is written. Past
// kLogFileWrap bytes the stream is rewound, without truncation, and
// last_lineno restarts at 0.
void fprintf_klaxo(int dpp, const char* format, ...) __attribute__((format(printf, 2, 3)));
}

// Allocates the per-DPP tables for DPPs 1 to dpps, every entry empty. 0, or
// -1 when memory runs out (what was allocated stays for
// release_dpp_files_tables).
int alloc_dpp_files_tables(int dpps);
// Closes every open file and frees the names and the tables.
void release_dpp_files_tables(void);

// True when DPP dpp has an entry in the tables and an open log file.
bool dpp_has_log_file(int dpp);

// fprintf_klaxo(dpp, "%.*s", len, text), for a record that is already made.
void write_dpp_record(int dpp, const char* text, std::size_t len);

// Closes every DPP's open log file and frees its name.
void close_dpp_files(void);

// SET_DEBUG type 4. An on request opens a new set of files under r.name (one
// per DPP, mode "w", linked under /var/log/external/) after closing the current
// set; a request naming the set already open changes nothing. An off request
// closes the set. Files and links stay on disk. Failures are printed only.
// r.name must be followed by a NUL in memory (see control.cpp).
void set_output_file(const wire::SetDebugRequest& r);

// Records reach their file through the stream's buffer. The buffer is
// written out when it fills, and at the latest kLogFlushDelayMs after the
// oldest record in it came: the main loop waits no longer than
// dpp_files_flush_due_ms() and then calls flush_due_dpp_files().
//
// When a write fails (a full disk), the file is cut back to its last whole
// line, so that no record runs into another, the wrap follows the file's real
// position, and the manager says on standard output when records start being
// lost and, once writing works again, how many were lost.

// The dpplog_now_ms time by which the oldest unflushed record of some file is
// due, or -1 when nothing waits.
std::int64_t dpp_files_flush_due_ms(void);
// Writes out every file whose oldest unflushed record is due.
void flush_due_dpp_files(void);
