// The command line of dravikctl split into words and options, and the
// parsers of the values operators type.
//
// Options may stand anywhere after the program name, as "--name VALUE" or
// "--name=VALUE"; flags ("--help", "-h", "--port0") take no value. Every
// other argument is a word, kept in order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravikctl {

struct Args {
  std::vector<std::string> words;
  std::map<std::string, std::string> options;  // "--vty" -> path; flags -> ""
  std::string error;                           // set when the line cannot be split
};

// The options that carry a value, and the flags.
bool option_takes_value(std::string_view name);
bool is_known_option(std::string_view name);

Args split_args(const std::vector<std::string>& argv);

// Unsigned numbers: decimal, or hexadecimal with "0x". Nothing when the text
// is not such a number or does not fit in 32 bits.
std::optional<std::uint32_t> parse_number(std::string_view s);
// A comma-separated list of numbers ("1,2", "0x10,0,3"); nothing when any
// item is not a number or an item is empty.
std::optional<std::vector<std::uint32_t>> parse_number_list(std::string_view s);

}  // namespace dravikctl
