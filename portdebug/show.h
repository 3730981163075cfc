// The listing of the active per-port debug commands.
//
// Each in-use map row's mask is taken apart into the commands whose bits it
// holds: rows 1 .. cmdMaskTableSize - 1 of the command table are walked in
// index order, and a row of the same module whose bits are all still
// unclaimed claims them and is shown, with the map row's one-based port. So a
// bit is shown at most once, and bits that no row fits are not shown.
//
// Formats with four conversions (the fenk commands) show the port in the
// first one and 0 in the other three: the map keeps no fenk number or FC ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr std::size_t kReplyBufSize = 5000;

// The reply buffer of a per-port debug request: cleared before each request,
// written only by the listing when the terminal cannot be opened, sent whole.
extern char buf[kReplyBufSize];

// Lists every in-use row to the terminal `term`, each under "Current vty(%s):"
// (the row is term's) or "Other vty(%s):". The terminal is opened for
// appending (a missing path is created, as a file) without blocking and
// without becoming the controlling terminal. When it cannot be opened, the
// listing goes into `buf` instead (tamo_printMask). Returns 0.
int showDebugCmds(const char* term);

// Writes to stream the command texts that make up mask in module, with port
// (already one-based). Nothing when mask is 0 or cmdMaskTableSize <= 1.
void printMask(std::uint32_t mask, std::uint32_t module, std::int32_t port, FILE* stream);

// Writes the listing of every in-use row into buf, from its start: for each
// command shown, "      vty(%s):\n" with the row's terminal, then the
// command's text. Each piece is cut to 99 characters, and the write position
// advances by the characters stored. The text always ends in a NUL inside buf:
// the listing stops at the last piece that fits whole with that NUL (a
// terminal line may then be the last piece), and nothing is written past
// buf's 5000 bytes.
void tamo_printMask();
