// The command-line conventions both tools keep on top of CLI11.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tools {

// A transform for numeric options: takes what parse_number takes and hands
// CLI11 the value in decimal, so "0x1f" is hexadecimal and "010" is ten.
const CLI::Validator& typed_number();
// A range check that leaves the option's help to its type name and text.
CLI::Validator number_range(std::uint64_t lo, std::uint64_t hi);

// "NAME VERSION (commit C)", the line every program prints for --version.
std::string version_line(const char* name);

// Shell completion. Where the words typed (after the program's name, before
// the word being completed) lead in app's tree: the innermost command and
// the positional words typed for it; `value` when the last word is an
// option that takes a value (which is then what is being typed).
struct Reached {
  CLI::App* at = nullptr;
  std::vector<std::string> words;
  bool value = false;
};
Reached walk(CLI::App& app, const std::vector<std::string>& typed);
// The visible subcommands of at, and the long options of at and the
// commands above it.
std::vector<std::string> command_candidates(CLI::App* at);
// Adds the hidden subcommand "__complete WORDS..." that the completion
// script runs; `then` prints the candidates once the parse is done.
CLI::App* add_completion(CLI::App& app);

// Adds --version and parses the command line. Nothing when the tool should go
// on and carry it out; otherwise the exit status, after the help or version
// (0) or the reason the line is wrong (2) has been printed: CLI11's, a
// planner's UsageError, or a word where only commands may stand, named with
// the nearest command ("unknown command 'debg'; did you mean 'debug'?").
std::optional<int> parse(CLI::App& app, int argc, char** argv);

}  // namespace tools
