// dravikctl's command lines planned into messages: the payloads of the
// commands the end-to-end sessions do not send, and the lines it refuses
// (exit status 2).
#include "tools/dravikctl/plan.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tools/dravikctl/help.h"
#include "wire/debug_request.h"
#include "wire/dpp_notify.h"
#include "wire/set_debug_request.h"

namespace dravikctl {
namespace {

using Buf = std::vector<std::uint8_t>;
using Argv = std::vector<std::string>;
const std::optional<std::string> kTty = std::string("/dev/pts/9");

Buf port_request(std::int32_t id, std::uint8_t port, const char* init, const char* tgt,
                 std::uint32_t fenk, std::uint32_t init_fcid, std::uint32_t targ_fcid) {
  wire::DebugRequest r;
  r.commandID = id;
  r.port = port;
  std::strcpy(r.term, "/dev/pts/9");
  std::strcpy(r.init, init);
  std::strcpy(r.tgt, tgt);
  std::tie(r.fenk, r.init_fcid, r.targ_fcid) = std::tie(fenk, init_fcid, targ_fcid);
  return wire::encode_debug_request(r);
}

Buf set_debug(std::uint8_t type, std::uint8_t on, std::uint8_t all, std::uint32_t word,
              std::string_view name = "") {
  wire::SetDebugRequest r;
  std::tie(r.type, r.on, r.all) = std::tie(type, on, all);
  r.flag = r.level = static_cast<std::uint8_t>(word);
  r.dpp_mask = word;
  r.name = name;
  return wire::encode_set_debug(r);
}

TEST(Plan, CommandsSendTheirOpcodeAndExactPayload) {
  wire::DnldFeatureRqst q;
  q.feature = 0x91810000;
  q.count = 2;
  q.dpps[1] = 1;
  wire::DnldFeatureComplete c;
  c.feature = 5;
  c.count = 2;
  c.entries[0] = {1, 2};
  c.entries[1] = {2, 1};
  for (const auto& [argv, opcode, payload] : std::vector<std::tuple<Argv, std::uint32_t, Buf>>{
           {{"debug", "pemra", "lrtp", "fenk", "7", "init_fcid", "0x10a", "targ_fcid", "20b", "ctl",
             "dpp", "2"},
            4000, port_request(102, 1, "", "", 7, 0x10A, 0x20B)},
           {{"debug", "nivo", "iscsi", "event", "port", "1", "init", "iqn.a", "tgt", "iqn.b"}, 4000,
            port_request(25, 0, "iqn.a", "iqn.b", 0, 0, 0)},
           {{"log", "categories", "off", "all"}, 5000, set_debug(1, 0, 1, 0, "/dev/pts/9")},
           {{"log", "dpps", "off", "all"}, 5000, set_debug(2, 0, 1, 0, "/dev/pts/9")},
           {{"log", "dpps", "on", "1,2"}, 5000, set_debug(2, 1, 0, 3, "/dev/pts/9")},
           {{"log", "level", "4"}, 5000, set_debug(3, 0, 0, 4)},
           {{"log", "file", "off"}, 5000, set_debug(4, 0, 0, 0)},
           {{"rebind", "--port0"}, 6111, {0, 0, 0, 1}},
           {{"notify", "dpp-down", "1"}, 7522, {0, 0, 0, 0}},
           {{"notify", "feature-request", "0x91810000", "1", "2"}, 7571, wire::encode_feature_rqst(q)},
           {{"notify", "feature-complete", "5", "2:2", "3:1"}, 7572, wire::encode_feature_complete(c)},
           {{"notify", "feature-failed"}, 7573, {}},
           {{"notify", "timezone", "EST5"}, 3102, {'E', 'S', 'T', '5', 0}}}) {
    Plan p = plan_command(argv, kTty);
    ASSERT_TRUE(std::holds_alternative<Action>(p)) << std::get<UsageError>(p).message;
    EXPECT_EQ(std::get<Action>(p).opcode, opcode) << ::testing::PrintToString(argv);
    EXPECT_EQ(std::get<Action>(p).payload, payload) << ::testing::PrintToString(argv);
  }
}

TEST(Plan, LinesThatCannotBeCarriedOutAreRefused) {
  const std::string vty99(99, 'v'), vty100(100, 'v');
  EXPECT_TRUE(std::holds_alternative<Action>(
      plan_command({"debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", vty99}, kTty)));
  for (const Argv& argv : std::vector<Argv>{
           {"debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", vty100},
           {"show", "debugs"}, {"show"}, {"log"}, {"log", "categories", "maybe"},
           {"log", "categories", "off", "3", "--filters", "1"},
           {"log", "categories", "on", "all", "--filters", "1"},
           {"log", "categories", "on", "3", "--filters", "1,2,3,4,5"},
           {"log", "categories", "on", "30"}, {"log", "categories", "on", "0"},
           {"log", "dpps", "on", "0"}, {"log", "dpps", "on", "1,,2"},
           {"log", "level", "8"}, {"log", "level", "LOUD"}, {"log", "level", "3", "--vty", "x"},
           {"release-all", "now"}, {"debug", "nivo", "ipstack", "tcp", "port", "3", "--port0"},
           {"notify", "dpp-up", "33"}, {"notify", "feature-complete", "5", "2"},
           {"notify", "reboot"}, {"--timeout", "0", "log", "show"}, {"log", "show", "--timeout"},
           {"log", "show", "--loud"}, {"frobnicate"}})
    EXPECT_TRUE(std::holds_alternative<UsageError>(plan_command(argv, kTty)))
        << ::testing::PrintToString(argv);
}

TEST(Plan, EveryCommandHasHelp) {
  for (const auto& [argv, topic] : std::vector<std::pair<Argv, std::string>>{
           {{"help", "notify", "dpp-up"}, "notify dpp-up"},
           {{"debug", "nivo", "-h"}, "debug"},
           {{"no", "debug", "--help"}, "no debug"}})
    EXPECT_EQ(std::get<Action>(plan_command(argv, kTty)).help_topic, topic);
  for (const char* topic :
       {"", "debug", "no", "show", "commands", "log", "log categories", "log dpps", "log level",
        "log file", "log show", "release-all", "rebind", "notify", "notify dpp-up",
        "notify dpp-down", "notify feature-request", "notify feature-complete",
        "notify feature-failed", "notify timezone"})
    EXPECT_NE(help_text(topic), nullptr) << topic;
  EXPECT_EQ(help_text("nonsense"), nullptr);
}

}  // namespace
}  // namespace dravikctl
