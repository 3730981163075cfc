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

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

MatchedCommand must_match(const std::string& line) {
  auto r = match_command(words_of(line));
  if (auto* e = std::get_if<MatchError>(&r)) {
    ADD_FAILURE() << "\"" << line << "\" refused: " << e->message;
    return {};
  }
  return std::get<MatchedCommand>(r);
}

MatchError must_fail(const std::string& line) {
  auto r = match_command(words_of(line));
  if (auto* m = std::get_if<MatchedCommand>(&r)) {
    ADD_FAILURE() << "\"" << line << "\" taken as command " << m->id;
    return {};
  }
  return std::get<MatchError>(r);
}

bool contains(const std::vector<std::int32_t>& ids, std::int32_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The table's text with values filled in by printf itself, the way the
// daemon's listing prints it, then stripped of tab, "debug " and newline by
// hand: the operator retypes what a listing showed.
std::string typed_text(const char* format, bool hex_prefix) {
  char buf[256];
  std::string fmt = format;
  if (hex_prefix) {
    for (std::size_t at = fmt.find("%x"); at != std::string::npos; at = fmt.find("%x", at + 4))
      fmt.replace(at, 2, "0x%x");
  }
  // One-conversion formats take 7 as their port; the fenk formats take fenk
  // 7, FC ids 0x1a and 0x2b, and DPP 4.
  std::snprintf(buf, sizeof buf, fmt.c_str(), 7, 0x1au, 0x2bu, 4);
  std::string s = buf;
  EXPECT_EQ(s.substr(0, 1), "\t");
  s.erase(0, s.starts_with("\t ") ? 2 : 1);
  EXPECT_TRUE(s.starts_with("debug ")) << s;
  s.erase(0, 6);
  EXPECT_TRUE(s.ends_with("\n"));
  s.pop_back();
  return s;
}

TEST(CommandWords, EveryTableTextMapsBackToItsIdWithItsValues) {
  int checked = 0;
  for (std::int32_t id = 1; id <= 123; ++id) {
    const char* format = cmdMaskTable[id].format;
    ASSERT_NE(format, nullptr) << id;
    const bool fenk = count_conversions(format) == 4;
    for (bool hex_prefix : {false, true}) {
      std::string line = typed_text(format, hex_prefix);
      MatchedCommand m = must_match(line);
      // Rows 111 and 112 hold the same text; it names 111.
      EXPECT_EQ(m.id, id == 112 ? 111 : id) << line;
      if (fenk) {
        EXPECT_EQ(m.fenk, 7u) << line;
        EXPECT_EQ(m.init_fcid, 0x1au) << line;
        EXPECT_EQ(m.targ_fcid, 0x2bu) << line;
        EXPECT_EQ(m.port, 3) << line;  // DPP 4, sent zero-based
      } else {
        EXPECT_EQ(m.port, 6) << line;  // port 7, sent zero-based
        EXPECT_EQ(m.fenk, 0u) << line;
      }
      EXPECT_TRUE(m.init.empty() && m.tgt.empty()) << line;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 2 * 123);
}

TEST(CommandWords, PatternsCoverEveryCommandButTheTwinOf111) {
  std::vector<std::int32_t> ids;
  for (const auto& p : command_patterns()) ids.push_back(p.id);
  EXPECT_EQ(ids.size(), 122u);
  EXPECT_FALSE(contains(ids, 112));
  EXPECT_TRUE(contains(ids, 111));
  EXPECT_FALSE(contains(ids, 0));
  EXPECT_FALSE(contains(ids, 124));
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
}

TEST(CommandWords, WordsMapToTheirCommandAbbreviatedExactOrWithNames) {
  const std::string name255(255, 'n');
  for (const auto& [line, id] : std::vector<std::pair<std::string, std::int32_t>>{
           {"nivo ip tcp port 3", 8},  // abbreviated while unambiguous
           {"n ipstack tcpf port 1", 20},
           {"pemra lrtp ret dpp 1", 106},
           {"nivo ipstack tcp port 1 s", 19},
           {"nivo fcip ctlpkt-d port 1", 42},
           {"nivo ipstack tcp port 3", 8},  // an exact word wins: not tcpfsm
           {"nivo ipstack eth port 3", 2},  // not eth-detail, eth-cfg, eth-chan
           {"nivo fcip ctlpkt port 3", 41},
           {"nivo iscsi pkt port 3", 28},
           {"nivo iscsi pkt port 3 detail", 29},
           {"nivo iscsi transaction port 1 init a tgt b", 33},
           {"nivo iscsi event port 2 init " + name255 + " tgt b", 25}})
    EXPECT_EQ(must_match(line).id, id) << line;
  MatchedCommand m = must_match("nivo iscsi event port 2 init iqn.host tgt iqn.disk");
  EXPECT_EQ(m.port, 1);
  EXPECT_EQ(m.init, "iqn.host");
  EXPECT_EQ(m.tgt, "iqn.disk");
  EXPECT_EQ(must_match("nivo ipstack tcp port 256").port, 255);
  m = must_match("pemra i-t-nexus fenk 4294967295 init_fcid 0XFFffFFff targ_fcid 0 dpp 2");
  EXPECT_EQ(m.id, 92);
  EXPECT_EQ(m.fenk, 4294967295u);
  EXPECT_EQ(m.init_fcid, 0xFFFFFFFFu);
  EXPECT_EQ(m.targ_fcid, 0u);
  EXPECT_EQ(m.port, 1);
}

TEST(CommandWords, WordsThatFitNoCommandAreRefusedByKind) {
  for (const auto& [line, kind] : std::vector<std::pair<std::string, MatchFailure>>{
           {"", MatchFailure::Empty},
           {"nivo iscsi event port 2 init a", MatchFailure::Incomplete},
           {"nivo iscsi login port 2 init a tgt b", MatchFailure::Unknown},
           {"nivo iscsi event port 2 init " + std::string(256, 'n') + " tgt b",
            MatchFailure::BadValue},
           {"nivo ipstack tcp port 0", MatchFailure::BadValue},
           {"nivo ipstack tcp port 257", MatchFailure::BadValue},
           {"pemra adap all dpp 0", MatchFailure::BadValue},
           {"pemra i-t-nexus fenk 4294967296 init_fcid 1 targ_fcid 2 dpp 1", MatchFailure::BadValue},
           {"pemra i-t-nexus fenk 1 init_fcid 100000000 targ_fcid 2 dpp 1", MatchFailure::BadValue},
           {"pemra i-t-nexus fenk 1 init_fcid zz targ_fcid 2 dpp 1", MatchFailure::Unknown}})
    EXPECT_EQ(must_fail(line).kind, kind) << line;
}

TEST(CommandWords, AmbiguousWordsAreRefusedWithEveryCommandTheyFit) {
  MatchError e = must_fail("nivo ipstack e port 1");
  EXPECT_EQ(e.kind, MatchFailure::Ambiguous);
  for (std::int32_t id : {2, 3, 22, 23, 49}) EXPECT_TRUE(contains(e.nearest, id)) << id;
  EXPECT_EQ(e.nearest.size(), 5u);

  e = must_fail("pemra lrtp re dpp 1");
  EXPECT_EQ(e.kind, MatchFailure::Ambiguous);
  EXPECT_EQ(e.nearest, (std::vector<std::int32_t>{105, 106}));
}

TEST(CommandWords, UnknownWordsAreRefusedWithTheNearestCommands) {
  MatchError e = must_fail("nivo ipstack tpc port 3");
  EXPECT_EQ(e.kind, MatchFailure::Unknown);
  EXPECT_NE(e.message.find("\"tpc\""), std::string::npos) << e.message;
  ASSERT_FALSE(e.nearest.empty());
  EXPECT_EQ(e.nearest.front(), 8);
  EXPECT_TRUE(contains(e.nearest, 19));
  EXPECT_TRUE(contains(e.nearest, 40));
  EXPECT_LE(e.nearest.size(), 8u);
  EXPECT_NE(std::find(e.expected.begin(), e.expected.end(), "tcp"), e.expected.end());
  EXPECT_NE(std::find(e.expected.begin(), e.expected.end(), "all"), e.expected.end());

  e = must_fail("nivx ipstack tcp port 3");
  EXPECT_EQ(e.kind, MatchFailure::Unknown);
  EXPECT_EQ(e.expected, (std::vector<std::string>{"nivo", "pemra"}));

  e = must_fail("nivo ipstack tcp port three");
  EXPECT_EQ(e.kind, MatchFailure::Unknown);
  EXPECT_EQ(e.expected, (std::vector<std::string>{"N"}));

  e = must_fail("nivo ipstack tcp port 3 extra");
  EXPECT_EQ(e.kind, MatchFailure::Unknown);
  EXPECT_TRUE(contains(e.nearest, 19));  // "tcp port N sack" goes on where "tcp port N" ends
}

TEST(CommandWords, WordsThatStopShortAreIncomplete) {
  MatchError e = must_fail("nivo ipstack tcp port");
  EXPECT_EQ(e.kind, MatchFailure::Incomplete);
  EXPECT_EQ(e.expected, (std::vector<std::string>{"N"}));
  EXPECT_TRUE(contains(must_fail("nivo ipstack tcp").nearest, 8));
}

TEST(CommandWords, DisplayTextShowsPlaceholdersAndCanonicalTextShowsValues) {
  EXPECT_EQ(display_text(8), "debug nivo ipstack tcp port N");
  EXPECT_EQ(display_text(19), "debug nivo ipstack tcp port N sack");
  EXPECT_EQ(display_text(91), "debug nivo fcip xrce-memcap port N");
  EXPECT_EQ(display_text(92), "debug pemra i-t-nexus fenk N init_fcid X targ_fcid X dpp N");
  EXPECT_EQ(display_text(25), "debug nivo iscsi event port N [init NAME tgt NAME]");
  EXPECT_EQ(display_text(112), display_text(111));
  EXPECT_EQ(display_text(124), "");
  EXPECT_EQ(display_text(0), "");

  EXPECT_EQ(canonical_text(must_match("nivo ip tcp port 3")), "debug nivo ipstack tcp port 3");
  EXPECT_EQ(canonical_text(must_match("pemra lrtp fenk 7 init_fcid 1a targ_fcid 0x2b pkt dpp 2")),
            "debug pemra lrtp fenk 7 init_fcid 1a targ_fcid 2b pkt-flow dpp 2");
  EXPECT_EQ(canonical_text(must_match("nivo iscsi ev port 1 init a tgt b")),
            "debug nivo iscsi event port 1 init a tgt b");
}

TEST(CommandWords, WordDistanceCountsASwapAsOneEdit) {
  EXPECT_EQ(word_distance("tpc", "tcp"), 1u);
  EXPECT_EQ(word_distance("", "abc"), 3u);
  EXPECT_EQ(word_distance("kitten", "sitting"), 3u);
  EXPECT_EQ(word_distance("eth", "eth"), 0u);
}

}  // namespace
}  // namespace dravikctl
