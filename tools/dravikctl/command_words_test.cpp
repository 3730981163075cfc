// The operator's words against the whole command table: every text the table
// lists comes back as its own command with its values, and words that fit no
// command, or more than one, are refused with the nearest commands.
#include "tools/dravikctl/command_words.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

MatchedCommand must_match(const std::string& line) {
  auto r = match(line);
  if (auto* e = std::get_if<MatchError>(&r)) ADD_FAILURE() << line << ": " << e->message;
  return std::holds_alternative<MatchedCommand>(r) ? std::get<MatchedCommand>(r) : MatchedCommand{};
}

// The table's text with values filled in by printf, the way the daemon's
// listing prints it, stripped of tab, "debug " and newline by hand: the
// operator retypes what a listing showed. One-conversion formats take port
// 7; the fenk formats take fenk 7, FC ids 0x1a and 0x2b, and DPP 4.
std::string typed_text(std::string fmt, bool hex_prefix) {
  for (auto at = fmt.find("%x"); hex_prefix && at != std::string::npos; at = fmt.find("%x", at + 4))
    fmt.replace(at, 2, "0x%x");
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt.c_str(), 7, 0x1au, 0x2bu, 4);
  std::string s = buf;
  s.erase(0, s.starts_with("\t ") ? 2 : 1);
  EXPECT_TRUE(s.starts_with("debug ") && s.ends_with("\n")) << s;
  return s.substr(6, s.size() - 7);
}

TEST(CommandWords, EveryTableTextMapsBackToItsIdWithItsValues) {
  for (std::int32_t id = 1; id <= 123; ++id) {
    ASSERT_NE(cmdMaskTable[id].format, nullptr) << id;
    const bool fenk = count_conversions(cmdMaskTable[id].format) == 4;
    for (bool hex_prefix : {false, true}) {
      std::string line = typed_text(cmdMaskTable[id].format, hex_prefix);
      MatchedCommand m = must_match(line);
      // Rows 111 and 112 hold the same text; DPP 4 and port 7 are sent zero-based.
      EXPECT_EQ(std::tie(m.id, m.port, m.fenk, m.init_fcid, m.targ_fcid),
                std::make_tuple(id == 112 ? 111 : id, std::uint8_t(fenk ? 3 : 6), fenk ? 7u : 0u,
                                fenk ? 0x1au : 0u, fenk ? 0x2bu : 0u))
          << line;
    }
  }
}

TEST(CommandWords, AbbreviationsExactWordsNamesAndValueBounds) {
  const std::string name255(255, 'n');
  for (const auto& [line, id] : std::vector<std::pair<std::string, std::int32_t>>{
           {"nivo ip tcp port 3", 8},       // abbreviated while unambiguous
           {"nivo ipstack eth port 3", 2},  // an exact word wins: not eth-detail, eth-cfg
           {"n ipstack tcpf port 1", 20},
           {"pemra lrtp ret dpp 1", 106},
           {"nivo ipstack tcp port 1 s", 19},
           {"nivo iscsi pkt port 3 detail", 29},
           {"nivo iscsi transaction port 1 init a tgt b", 33},
           {"nivo iscsi event port 2 init " + name255 + " tgt b", 25}})
    EXPECT_EQ(must_match(line).id, id) << line;
  MatchedCommand m = must_match("nivo iscsi event port 2 init iqn.host tgt iqn.disk");
  EXPECT_EQ(std::tie(m.port, m.init, m.tgt),
            std::make_tuple(std::uint8_t{1}, "iqn.host", "iqn.disk"));
  EXPECT_EQ(must_match("nivo ipstack tcp port 256").port, 255);
  m = must_match("pemra i-t-nexus fenk 4294967295 init_fcid 0XFFffFFff targ_fcid 0 dpp 2");
  EXPECT_EQ(std::tie(m.fenk, m.init_fcid, m.port),
            std::make_tuple(4294967295u, 0xFFFFFFFFu, std::uint8_t{1}));
  EXPECT_EQ(canonical_text(must_match("pemra lrtp fenk 7 init_fcid 1a targ_fcid 0x2b pkt dpp 2")),
            "debug pemra lrtp fenk 7 init_fcid 1a targ_fcid 2b pkt-flow dpp 2");
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
    if (!c.expected.empty()) {
      EXPECT_EQ(e.expected, c.expected) << c.line;
    }
  }
}

// The seven families of the DPP side's modules own every command id 1 to 123.
TEST(CommandTable, EachModuleOwnsExactlyItsCommandIds) {
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
