// The per-DPP log files: one ring of about 2 MiB per DPP under
// "/cpp/plinder_dpp_logs/", each linked from "/var/log/external/".
//
// A file holds records (the formatted text and one newline) and time-stamp
// lines ("#### <ctime text>" or "#### [<n> sec] <ctime text>"), at most one
// stamp per second of the clock and only ahead of a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "wire/set_debug_request.h"

// The position past which a log file wraps to its start.
constexpr long kLogFileWrap = 0x200000;

// The clock of the time stamps; time(nullptr) unless a test sets another.
extern std::time_t (*dpplog_now)();

extern "C" {
// Writes one record to DPP dpp's open log file, with a time-stamp line ahead
// of it when the clock has passed the last stamp. The caller makes sure the
// file is open (dpp_has_log_file); otherwise nothing is written. The stream is
// not flushed. Past kLogFileWrap bytes the stream is rewound, without
// truncation, and last_lineno restarts at 0.
void fprintf_klaxo(int dpp, const char* format, ...) __attribute__((format(printf, 2, 3)));
}

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
