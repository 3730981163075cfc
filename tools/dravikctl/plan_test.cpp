// dravikctl's command lines planned into messages: the opcode and the exact
// payload each command sends, and the lines it refuses (exit status 2).
#include "tools/dravikctl/plan.h"

#include <gtest/gtest.h>

#include "tools/dravikctl/help.h"
#include "wire/debug_request.h"
#include "wire/dpp_notify.h"
#include "wire/set_debug_request.h"

namespace dravikctl {
namespace {

const std::optional<std::string> kTty = std::string("/dev/pts/9");
const std::optional<std::string> kNoTty;

Action must_plan(const std::vector<std::string>& argv,
                 const std::optional<std::string>& tty = kTty) {
  Plan p = plan_command(argv, tty);
  if (auto* e = std::get_if<UsageError>(&p)) {
    ADD_FAILURE() << "refused: " << e->message;
    return {};
  }
  return std::get<Action>(p);
}

UsageError must_refuse(const std::vector<std::string>& argv,
                       const std::optional<std::string>& tty = kTty) {
  Plan p = plan_command(argv, tty);
  if (std::holds_alternative<Action>(p)) {
    ADD_FAILURE() << "accepted";
    return {};
  }
  return std::get<UsageError>(p);
}

TEST(PlanPortDebug, DebugSubscribesTheOwnTerminalWithAZeroBasedPort) {
  Action a = must_plan({"debug", "nivo", "ipstack", "tcp", "port", "3"});
  EXPECT_EQ(a.kind, ActionKind::Request);
  EXPECT_EQ(a.opcode, kOpcodePortDebug);
  EXPECT_EQ(a.reply, ReplyUse::Confirm);
  ASSERT_EQ(a.payload.size(), wire::debug_request::kSize);
  wire::DebugRequest r = wire::decode_debug_request(a.payload);
  EXPECT_EQ(r.commandID, 8);
  EXPECT_EQ(r.port, 2);
  EXPECT_EQ(r.noFlag, 0);
  EXPECT_STREQ(r.term, "/dev/pts/9");
  EXPECT_EQ(r.init[0], 0);
  EXPECT_NE(a.done.find("debug nivo ipstack tcp port 3"), std::string::npos) << a.done;
}

TEST(PlanPortDebug, NoDebugReleasesAndVtyNamesAnotherTerminal) {
  Action a = must_plan({"no", "debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", "/tmp/t"});
  wire::DebugRequest r = wire::decode_debug_request(a.payload);
  EXPECT_EQ(r.commandID, 8);
  EXPECT_EQ(r.noFlag, 1);
  EXPECT_STREQ(r.term, "/tmp/t");
  a = must_plan({"--vty=/tmp/u", "debug", "nivo", "ipstack", "tcp", "port", "3"}, kNoTty);
  EXPECT_STREQ(wire::decode_debug_request(a.payload).term, "/tmp/u");
}

TEST(PlanPortDebug, FiltersTravelInTheRequest) {
  Action a = must_plan({"debug", "pemra", "lrtp", "fenk", "7", "init_fcid", "0x10a", "targ_fcid",
                        "20b", "ctl", "dpp", "2"});
  wire::DebugRequest r = wire::decode_debug_request(a.payload);
  EXPECT_EQ(r.commandID, 102);
  EXPECT_EQ(r.port, 1);
  EXPECT_EQ(r.fenk, 7u);
  EXPECT_EQ(r.init_fcid, 0x10Au);
  EXPECT_EQ(r.targ_fcid, 0x20Bu);

  a = must_plan({"debug", "nivo", "iscsi", "event", "port", "1", "init", "iqn.a", "tgt", "iqn.b"});
  r = wire::decode_debug_request(a.payload);
  EXPECT_EQ(r.commandID, 25);
  EXPECT_STREQ(r.init, "iqn.a");
  EXPECT_STREQ(r.tgt, "iqn.b");
}

TEST(PlanPortDebug, ATerminalIsRequiredAndMustFitTheDaemonsField) {
  UsageError e = must_refuse({"debug", "nivo", "ipstack", "tcp", "port", "3"}, kNoTty);
  EXPECT_NE(e.message.find("--vty"), std::string::npos) << e.message;
  EXPECT_EQ(e.topic, "debug");
  e = must_refuse({"show", "debug"}, kNoTty);
  EXPECT_NE(e.message.find("--vty"), std::string::npos);
  must_refuse({"debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", std::string(100, 'v')});
  must_plan({"debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", std::string(99, 'v')});
}

TEST(PlanPortDebug, UnknownWordsAreRefusedWithTheNearestCommands) {
  UsageError e = must_refuse({"debug", "nivo", "ipstack", "tpc", "port", "3"});
  EXPECT_NE(e.message.find("debug nivo ipstack tcp port N"), std::string::npos) << e.message;
  EXPECT_NE(e.message.find("dravikctl commands"), std::string::npos);
  e = must_refuse({"no", "nivo"});
  EXPECT_EQ(e.topic, "no");
}

TEST(PlanPortDebug, ShowDebugAsksForTheListing) {
  Action a = must_plan({"show", "debug", "--vty", "/tmp/t"});
  EXPECT_EQ(a.reply, ReplyUse::Listing);
  EXPECT_EQ(a.vty, "/tmp/t");
  wire::DebugRequest r = wire::decode_debug_request(a.payload);
  EXPECT_EQ(r.commandID, 126);
  EXPECT_STREQ(r.term, "/tmp/t");
  must_refuse({"show", "debugs"});
  must_refuse({"show"});
}

TEST(PlanLog, CategoriesOnAndOff) {
  Action a = must_plan({"log", "categories", "on"});
  EXPECT_EQ(a.opcode, kOpcodeSetDebug);
  wire::SetDebugRequest r = wire::decode_set_debug(a.payload);
  EXPECT_EQ(r.type, 1);
  EXPECT_EQ(r.on, 1);
  EXPECT_EQ(r.all, 1);
  EXPECT_EQ(r.name, "/dev/pts/9");

  a = must_plan({"log", "categories", "on", "3", "--filters", "1,0,0,0x10", "--vty", "vty7"});
  r = wire::decode_set_debug(a.payload);
  EXPECT_EQ(r.all, 0);
  EXPECT_EQ(r.flag, 3);
  EXPECT_EQ(r.filters, (std::array<std::uint32_t, 4>{1, 0, 0, 0x10}));
  EXPECT_EQ(r.name, "vty7");

  a = must_plan({"log", "categories", "off", "all"}, kNoTty);
  r = wire::decode_set_debug(a.payload);
  EXPECT_EQ(r.on, 0);
  EXPECT_EQ(r.all, 1);
  EXPECT_EQ(r.name, "");

  must_refuse({"log", "categories", "off", "3", "--filters", "1"});
  must_refuse({"log", "categories", "on", "all", "--filters", "1"});
  must_refuse({"log", "categories", "on", "3", "--filters", "1,2,3,4,5"});
  must_refuse({"log", "categories", "on", "30"});
  must_refuse({"log", "categories", "on", "0"});
  must_refuse({"log", "categories", "maybe"});
}

TEST(PlanLog, DppsLevelFileAndShow) {
  // A decoded request's name points into the payload: keep each action.
  Action a = must_plan({"log", "dpps", "on", "1,2"});
  wire::SetDebugRequest r = wire::decode_set_debug(a.payload);
  EXPECT_EQ(r.type, 2);
  EXPECT_EQ(r.on, 1);
  EXPECT_EQ(r.all, 0);
  EXPECT_EQ(r.dpp_mask, 0x3u);
  a = must_plan({"log", "dpps", "off", "all"});
  r = wire::decode_set_debug(a.payload);
  EXPECT_EQ(r.on, 0);
  EXPECT_EQ(r.all, 1);
  must_refuse({"log", "dpps", "on", "0"});
  must_refuse({"log", "dpps", "on", "1,,2"});

  a = must_plan({"log", "level", "debug"});
  r = wire::decode_set_debug(a.payload);
  EXPECT_EQ(r.type, 3);
  EXPECT_EQ(r.level, 7);
  a = must_plan({"log", "level", "4"});
  EXPECT_EQ(wire::decode_set_debug(a.payload).level, 4);
  must_refuse({"log", "level", "8"});
  must_refuse({"log", "level", "LOUD"});

  a = must_plan({"log", "file", "dbg"});
  r = wire::decode_set_debug(a.payload);
  EXPECT_EQ(r.type, 4);
  EXPECT_EQ(r.on, 1);
  EXPECT_EQ(r.name, "dbg");
  EXPECT_TRUE(r.name_terminated);
  a = must_plan({"log", "file", "off"});
  r = wire::decode_set_debug(a.payload);
  EXPECT_EQ(r.on, 0);

  a = must_plan({"log", "show"});
  EXPECT_EQ(a.opcode, kOpcodeShowDebug);
  EXPECT_EQ(a.reply, ReplyUse::Report);
  EXPECT_TRUE(a.payload.empty());
  must_refuse({"log", "level", "3", "--vty", "x"});
  must_refuse({"log"});
}

TEST(PlanRelay, ReleaseAllAndRebindExpectNoReply) {
  Action a = must_plan({"release-all"});
  EXPECT_EQ(a.kind, ActionKind::Send);
  EXPECT_EQ(a.opcode, 922u);
  a = must_plan({"rebind"});
  EXPECT_EQ(a.kind, ActionKind::Send);
  EXPECT_EQ(a.opcode, 6111u);
  EXPECT_EQ(a.payload, (std::vector<std::uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(must_plan({"rebind", "--port0"}).payload, (std::vector<std::uint8_t>{0, 0, 0, 1}));
  must_refuse({"release-all", "now"});
  must_refuse({"debug", "nivo", "ipstack", "tcp", "port", "3", "--port0"});
}

TEST(PlanNotify, DppsAreTypedOneBasedAndSentAsIndexes) {
  Action a = must_plan({"notify", "dpp-up", "2"});
  EXPECT_EQ(a.kind, ActionKind::Notify);
  EXPECT_EQ(a.opcode, 7521u);
  EXPECT_EQ(wire::decode_dpp_index(a.payload), 1u);
  a = must_plan({"notify", "dpp-down", "1"});
  EXPECT_EQ(a.opcode, 7522u);
  EXPECT_EQ(wire::decode_dpp_index(a.payload), 0u);
  must_refuse({"notify", "dpp-up", "0"});
  must_refuse({"notify", "dpp-up", "33"});

  a = must_plan({"notify", "feature-request", "0x91810000", "1", "2"});
  EXPECT_EQ(a.opcode, 7571u);
  wire::DnldFeatureRqst q = wire::decode_feature_rqst(a.payload);
  EXPECT_EQ(q.feature, 0x91810000u);
  EXPECT_EQ(q.count, 2);
  EXPECT_EQ(q.dpps[0], 0);
  EXPECT_EQ(q.dpps[1], 1);

  a = must_plan({"notify", "feature-complete", "5", "2:2", "3:1"});
  EXPECT_EQ(a.opcode, 7572u);
  wire::DnldFeatureComplete c = wire::decode_feature_complete(a.payload);
  EXPECT_EQ(c.feature, 5u);
  ASSERT_EQ(c.count, 2);
  EXPECT_EQ(c.entries[0].dpp, 1);
  EXPECT_EQ(c.entries[0].status, 2u);
  EXPECT_EQ(c.entries[1].dpp, 2);
  EXPECT_EQ(c.entries[1].status, 1u);
  must_refuse({"notify", "feature-complete", "5", "2"});

  EXPECT_EQ(must_plan({"notify", "feature-failed"}).opcode, 7573u);
  a = must_plan({"notify", "timezone", "EST5"});
  EXPECT_EQ(a.opcode, 3102u);
  EXPECT_EQ(a.payload, (std::vector<std::uint8_t>{'E', 'S', 'T', '5', 0}));
  must_refuse({"notify", "reboot"});
}

TEST(PlanGlobal, TimeoutDirAndUnknownInput) {
  Action a = must_plan({"--timeout", "150", "log", "show", "--dir", "/tmp/x"});
  EXPECT_EQ(a.timeout, std::chrono::milliseconds(150));
  EXPECT_EQ(a.platform_dir, std::optional<std::string>("/tmp/x"));
  EXPECT_EQ(must_plan({"log", "show"}).timeout, kDefaultTimeout);
  must_refuse({"--timeout", "0", "log", "show"});
  must_refuse({"--timeout", "soon", "log", "show"});
  must_refuse({"log", "show", "--timeout"});
  must_refuse({"log", "show", "--loud"});
  must_refuse({"frobnicate"});
  must_refuse({});
}

TEST(PlanGlobal, HelpNamesTheDeepestTopicOfTheWords) {
  EXPECT_EQ(must_plan({"--help"}).kind, ActionKind::Help);
  EXPECT_EQ(must_plan({"--help"}).help_topic, "");
  EXPECT_EQ(must_plan({"log", "categories", "--help"}).help_topic, "log categories");
  EXPECT_EQ(must_plan({"help", "notify", "dpp-up"}).help_topic, "notify dpp-up");
  EXPECT_EQ(must_plan({"debug", "nivo", "-h"}).help_topic, "debug");
  EXPECT_EQ(must_plan({"no", "debug", "--help"}).help_topic, "no debug");
  for (const char* topic : {"",
                            "debug",
                            "no",
                            "show",
                            "commands",
                            "log",
                            "log categories",
                            "log dpps",
                            "log level",
                            "log file",
                            "log show",
                            "release-all",
                            "rebind",
                            "notify",
                            "notify dpp-up",
                            "notify dpp-down",
                            "notify feature-request",
                            "notify feature-complete",
                            "notify feature-failed",
                            "notify timezone"})
    EXPECT_NE(help_text(topic), nullptr) << topic;
  EXPECT_EQ(help_text("nonsense"), nullptr);
}

}  // namespace
}  // namespace dravikctl
