// The show report (opcode 5001): the manager's state as text in show_buf.
#pragma once

#include <cstddef>

constexpr std::size_t kShowBufSize = 4096;

extern "C" {
// Rewritten from its start by every show request.
extern char show_buf[kShowBufSize];
}

// Builds the report into show_buf and returns its length (at most 4095: a
// longer report is cut there). Prints the map lines to standard output.
// Pieces, in order: the open log files of the DPPs in plinder_dpps AND dppmap
// (only while output_filename is set), the debug level and its name, the DPP
// instances, and each enabled category not overridden by an enabled one,
// with its non-zero filter words.
std::size_t build_show_report();
