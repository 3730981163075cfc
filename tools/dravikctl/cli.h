// The command line of dravikctl on CLI11: subcommands, options, their
// validation, help and errors. The per-port debug commands keep the command
// table's own words (command_words.h); CLI11 only collects them.
//
// --timeout, --dir and --vty may stand before or after the command; --vty
// is refused by the commands that have no terminal.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/dravikctl/plan.h"

namespace dravikctl {

// The action argv asks for. own_tty: the caller's terminal, ttyname(0), or
// nothing when standard input is not a terminal. Nothing, with *status set,
// when the help was printed (0) or the line is wrong (2, the reason printed).
std::optional<Action> parse_command_line(int argc, char** argv,
                                         const std::optional<std::string>& own_tty, int* status);

// The words that may follow `typed` (the words after "dravikctl" before the
// one being completed): subcommands, options, the debug command words.
std::vector<std::string> completions(const std::vector<std::string>& typed);

}  // namespace dravikctl
