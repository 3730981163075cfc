// The operator's words against the command table: words that fit no command,
// or more than one, are refused with the nearest commands; and the table's
// rows each go to their module.
#include "tools/dravikctl/command_words.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "portdebug/cmd_table.h"

namespace dravikctl {
namespace {

std::variant<MatchedCommand, MatchError> match(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return match_command(words);
}

TEST(CommandWords, AmbiguousUnknownAndBadWordsAreRefusedWithTheNearestCommands) {
  struct Case {
    std::string line;
    MatchFailure kind;
    std::vector<std::int32_t> nearest = {};  // leading ids of the nearest, in order
    std::vector<std::string> expected = {};
  };
  const auto unknown = MatchFailure::Unknown, bad = MatchFailure::BadValue;
  for (const Case& c :
       std::vector<Case>{{"", MatchFailure::Empty},
                         {"nivo ipstack e port 1", MatchFailure::Ambiguous, {2, 3, 22, 23, 49}},
                         {"pemra lrtp re dpp 1", MatchFailure::Ambiguous, {105, 106}},
                         {"nivo ipstack tpc port 3", unknown, {8}},
                         {"nivx ipstack tcp port 3", unknown, {}, {"nivo", "pemra"}},
                         {"nivo ipstack tcp port three", unknown, {}, {"N"}},
                         {"nivo ipstack tcp port", MatchFailure::Incomplete, {}, {"N"}},
                         {"nivo iscsi event port 2 init a", MatchFailure::Incomplete},
                         {"nivo iscsi login port 2 init a tgt b", unknown},
                         {"nivo iscsi event port 2 init " + std::string(256, 'n') + " tgt b", bad},
                         {"nivo ipstack tcp port 0", bad},
                         {"nivo ipstack tcp port 257", bad},
                         {"pemra adap all dpp 0", bad},
                         {"pemra i-t-nexus fenk 4294967296 init_fcid 1 targ_fcid 2 dpp 1", bad},
                         {"pemra i-t-nexus fenk 1 init_fcid 100000000 targ_fcid 2 dpp 1", bad},
                         {"pemra i-t-nexus fenk 1 init_fcid zz targ_fcid 2 dpp 1", unknown}}) {
    auto r = match(c.line);
    ASSERT_TRUE(std::holds_alternative<MatchError>(r)) << c.line;
    const MatchError& e = std::get<MatchError>(r);
    EXPECT_EQ(e.kind, c.kind) << c.line;
    EXPECT_FALSE(e.message.empty()) << c.line;
    ASSERT_GE(e.nearest.size(), c.nearest.size()) << c.line;
    EXPECT_TRUE(std::equal(c.nearest.begin(), c.nearest.end(), e.nearest.begin())) << c.line;
    EXPECT_TRUE(c.expected.empty() || e.expected == c.expected)
        << c.line << ::testing::PrintToString(e.expected);
  }
}

// The seven families of the DPP side's modules own every command id 1 to 123.
TEST(CommandWords, EachModuleOwnsExactlyItsCommandIds) {
  const std::vector<std::pair<std::uint32_t, std::vector<std::pair<int, int>>>> families = {
      {55, {{1, 23}, {40, 40}, {49, 49}, {71, 72}, {76, 81}, {87, 87}}},
      {66, {{24, 37}, {46, 48}}},
      {77, {{38, 39}, {41, 45}, {50, 58}, {82, 86}, {89, 91}, {121, 123}}},
      {80, {{59, 64}, {88, 88}}},
      {81, {{65, 70}}},
      {82, {{73, 75}}},
      {83, {{92, 120}}}};
  std::vector<std::uint32_t> module(124, 0);
  for (const auto& [m, ranges] : families)
    for (auto [from, to] : ranges)
      for (int id = from; id <= to; ++id) module[id] = m;
  for (int id = 0; id < 126; ++id)
    EXPECT_EQ(cmdMaskTable[id].module, id == 0 ? 0xDEADBEEFu : id < 124 ? module[id] : 0u) << id;
}

}  // namespace
}  // namespace dravikctl
