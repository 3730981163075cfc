// The command-line conventions both tools keep on top of CLI11.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>

namespace tools {

// A transform for numeric options: takes what parse_number takes and hands
// CLI11 the value in decimal, so "0x1f" is hexadecimal and "010" is ten.
const CLI::Validator& typed_number();

// Parses the command line. Nothing when the tool should go on and carry it
// out; otherwise the exit status, after the help (0) or the reason the line
// is wrong, CLI11's or a planner's UsageError (2), has been printed.
std::optional<int> parse(CLI::App& app, int argc, char** argv);

}  // namespace tools
