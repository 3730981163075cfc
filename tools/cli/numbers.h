// Numbers as operators type them, the error a planner raises for a value the
// daemon cannot take, and the exit statuses both tools end with.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace tools {

// Done; the daemon (or the platform) could not be reached or did not answer;
// the command line is wrong; the daemon answered but did not do it.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotDone = 3;

// A command line that parses but names something that does not exist (a
// command the table lacks, a DPP out of range, ...): printed, exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Decimal, or hexadecimal after "0x"; a leading zero does not make it octal.
// With base 10 only decimal; with base 16 hexadecimal, "0x" or not. Nothing
// when the text is not such a number or exceeds max.
std::optional<std::uint64_t> parse_number(std::string_view s, std::uint64_t max = 0xFFFFFFFF,
                                          int base = 0);
// A comma-separated list of such numbers ("1,2", "0x10,0,3"); nothing when
// an item is empty or not a number.
std::optional<std::vector<std::uint32_t>> parse_number_list(std::string_view s);

}  // namespace tools
