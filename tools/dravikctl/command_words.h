// Per-port debug commands in the operator's own words, matched against the
// texts of the daemon's command table (portdebug/cmd_table.h).
//
// A table text "\tdebug nivo ipstack tcp port %d\n" becomes the word pattern
// "nivo ipstack tcp port %d": the leading tab (or tab and space), "debug " and
// the trailing newline are stripped, and every "%d"/"%x" is a value slot.
// The operator types the words after "debug":
//   nivo ipstack tcp port 3
//   pemra lrtp fenk 7 init_fcid 0x10a targ_fcid 20b pkt-flow dpp 2
//   nivo iscsi event port 1 init iqn.a tgt iqn.b      (ids 25 and 33 only)
// Ports and DPPs are typed one-based, as every listing shows them, and come
// back zero-based. FC ids are hexadecimal with or without "0x".
//
// Matching, word by word, CLI style: a word matches a pattern word exactly,
// as a value for a slot, or as an abbreviation (a prefix). At each position
// exact and value matches win over abbreviations, so "tcp" means "tcp" and
// not "tcpfsm"; an abbreviation that fits several words stays ambiguous
// unless later words decide.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dravikctl {

// The word pattern of one command: literal words, and "%d"/"%x" for slots.
struct CommandPattern {
  std::int32_t id = 0;
  std::vector<std::string> words;
  bool takes_names = false;  // optional trailing "init NAME tgt NAME"
};

// The patterns of ids 1-123 in id order. Row 112 is left out: its text is
// row 111's, word for word, so that text always names 111.
const std::vector<CommandPattern>& command_patterns();

// The operator's words of a table format: tab/"debug "/newline stripped.
std::string command_words_of(std::string_view format);

// How a command is shown to the operator: "debug nivo ipstack tcp port N",
// with N/X placeholders for values and "[init NAME tgt NAME]" where names may
// follow. Empty for an id that names no command.
std::string display_text(std::int32_t id);

struct MatchedCommand;
// The full words of a matched command with its values, as the daemon's
// listing shows it: "debug nivo ipstack tcp port 3", abbreviations expanded.
std::string canonical_text(const MatchedCommand& m);

struct MatchedCommand {
  std::int32_t id = 0;
  std::uint8_t port = 0;  // zero-based port (or DPP, for the pemra commands)
  std::uint32_t fenk = 0;
  std::uint32_t init_fcid = 0;
  std::uint32_t targ_fcid = 0;
  std::string init;  // initiator and target names (ids 25 and 33)
  std::string tgt;
};

enum class MatchFailure {
  Empty,       // no words at all
  Unknown,     // a word fits no command at its place
  Incomplete,  // the words stop before any command ends
  Ambiguous,   // the words fit more than one command
  BadValue,    // a value slot holds a number out of range
};

struct MatchError {
  MatchFailure kind = MatchFailure::Unknown;
  std::string message;                // one line, without a newline
  std::vector<std::string> expected;  // the words that could stand at the failing place
  std::vector<std::int32_t> nearest;  // ids of the commands closest to the words
};

std::variant<MatchedCommand, MatchError> match_command(const std::vector<std::string>& words);

// The literal words that may follow `words` (the operator's words after
// "debug", abbreviations matched as above): the shell completion's
// candidates. Values (N, X, names) are not candidates.
std::vector<std::string> next_words(const std::vector<std::string>& words);

}  // namespace dravikctl
