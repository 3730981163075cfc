// The per-port debug command table: command id -> (debug bits, module, text).
//
// Row n belongs to command id n. The ids are the ones the command-line side
// sends, and the modules and bits are the ones the DPP cores interpret, so
// every row is fixed. Row 0 holds no command (0xDEADBEEF, "unused"); rows 124
// and 125 are empty (0, 0, no text); ids 1-123 name commands, and id 126
// (`show_command`) asks for the listing and has no row.
//
// A row's `format` is what the listing prints for it: a printf format whose
// first conversion receives the one-based port. Most formats hold exactly one
// "%d"; the fenk formats hold "%d %x %x %d" (fenk
// number, initiator FC id, target FC id, DPP; see wire::is_fenk_command). Every format is called
// with the listing arguments (port, 0u, 0u, 0): see listing_conversions_ok below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct CmdMaskEntry {
  std::uint32_t mask;    // the debug bits of the command within its module
  std::uint32_t module;  // module code of the DPP service owning the bits
  const char* format;    // listing text (printf format), or null
};

constexpr std::size_t kCmdMaskTableRows = 126;

// The table itself, read-only.
extern const CmdMaskEntry cmdMaskTable[kCmdMaskTableRows];

// The number of rows the listing scans (rows 1 .. cmdMaskTableSize - 1). A
// variable read at every step of a scan; the scans never go past
// kCmdMaskTableRows whatever it holds.
extern std::uint32_t cmdMaskTableSize;

// The command id of the listing request; one past the last row.
inline constexpr std::int32_t show_command = 126;

// True for the ids that name a command (1 to 123): the only ids whose rows a
// request may subscribe to or release.
constexpr bool names_debug_command(std::int32_t id) { return id >= 1 && id <= 123; }

// Port numbers are kept zero-based and shown one-based: returns port + 1.
std::int32_t dravik_core_num_to_print(std::uint32_t port);

// Every listing line is formatted with these arguments after the format: the
// one-based port first, then 0 for the fenk format's initiator and target FC
// ids (unsigned, %x) and 0 for its DPP (%d). The map keeps no fenk number or
// FC ids, so the port is all the listing knows; a one-conversion format uses
// the port and leaves the rest unread, which printf allows.
//
// listing_conversions_ok() is the guard that makes this safe: it accepts a
// format only when its conversions are, in order, a prefix of %d %x %x %d,
// with no flags, widths or length modifiers ("%%" is literal text).
constexpr bool listing_conversions_ok(std::string_view fmt) {
  constexpr char kExpected[] = {'d', 'x', 'x', 'd'};
  std::size_t n = 0;
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%') continue;
    if (i + 1 >= fmt.size()) return false;
    if (fmt[i + 1] == '%') {
      ++i;
      continue;
    }
    if (n >= sizeof kExpected || fmt[i + 1] != kExpected[n]) return false;
    ++n;
    ++i;
  }
  return true;
}

// The number of conversions in fmt ("%%" excluded).
constexpr int count_conversions(std::string_view fmt) {
  int n = 0;
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%' || i + 1 >= fmt.size()) continue;
    if (fmt[i + 1] != '%') ++n;
    ++i;
  }
  return n;
}
