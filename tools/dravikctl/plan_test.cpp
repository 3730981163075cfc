// dravikctl's command lines planned into messages: the opcode and the exact
// payload each command sends, and the lines it refuses (exit status 2).
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
const std::optional<std::string> kNoTty;

Action must_plan(const Argv& argv, const std::optional<std::string>& tty = kTty) {
  Plan p = plan_command(argv, tty);
  if (auto* e = std::get_if<UsageError>(&p)) {
    ADD_FAILURE() << "refused: " << e->message;
    return {};
  }
  return std::get<Action>(p);
}

UsageError must_refuse(const Argv& argv, const std::optional<std::string>& tty = kTty) {
  Plan p = plan_command(argv, tty);
  if (std::holds_alternative<Action>(p)) {
    ADD_FAILURE() << "accepted: " << ::testing::PrintToString(argv);
    return {};
  }
  return std::get<UsageError>(p);
}

Buf port_request(std::int32_t id, std::uint8_t port, const char* term, std::uint8_t no = 0,
                 const char* init = "", const char* tgt = "", std::uint32_t fenk = 0,
                 std::uint32_t init_fcid = 0, std::uint32_t targ_fcid = 0) {
  wire::DebugRequest r;
  r.commandID = id;
  r.port = port;
  r.noFlag = no;
  std::strcpy(r.term, term);
  std::strcpy(r.init, init);
  std::strcpy(r.tgt, tgt);
  r.fenk = fenk;
  r.init_fcid = init_fcid;
  r.targ_fcid = targ_fcid;
  return wire::encode_debug_request(r);
}

Buf set_debug(std::uint8_t type, std::uint8_t on, std::uint8_t all, std::uint32_t word,
              std::string_view name = "", std::array<std::uint32_t, 4> filters = {}) {
  wire::SetDebugRequest r;
  r.type = type;
  r.on = on;
  r.all = all;
  r.flag = static_cast<std::uint8_t>(word);
  r.dpp_mask = word;
  r.level = static_cast<std::uint8_t>(word);
  r.filters = filters;
  r.name = name;
  return wire::encode_set_debug(r);
}

TEST(Plan, EachCommandSendsItsOpcodeAndExactPayload) {
  wire::DnldFeatureRqst q;
  q.feature = 0x91810000;
  q.count = 2;
  q.dpps[1] = 1;
  wire::DnldFeatureComplete c;
  c.feature = 5;
  c.count = 2;
  c.entries[0] = {1, 2};
  c.entries[1] = {2, 1};
  struct Case {
    Argv argv;
    std::uint32_t opcode;
    ActionKind kind;
    Buf payload;
    std::optional<std::string> tty = kTty;
  };
  const auto request = ActionKind::Request, send = ActionKind::Send, note = ActionKind::Notify;
  for (const Case& t : std::vector<Case>{
           {{"debug", "nivo", "ipstack", "tcp", "port", "3"}, 4000, request,
            port_request(8, 2, "/dev/pts/9")},
           {{"no", "debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", "/tmp/t"}, 4000, request,
            port_request(8, 2, "/tmp/t", 1)},
           {{"--vty=/tmp/u", "debug", "nivo", "ipstack", "tcp", "port", "3"}, 4000, request,
            port_request(8, 2, "/tmp/u"), kNoTty},
           {{"debug", "pemra", "lrtp", "fenk", "7", "init_fcid", "0x10a", "targ_fcid", "20b", "ctl",
             "dpp", "2"},
            4000, request, port_request(102, 1, "/dev/pts/9", 0, "", "", 7, 0x10A, 0x20B)},
           {{"debug", "nivo", "iscsi", "event", "port", "1", "init", "iqn.a", "tgt", "iqn.b"}, 4000,
            request, port_request(25, 0, "/dev/pts/9", 0, "iqn.a", "iqn.b")},
           {{"show", "debug", "--vty", "/tmp/t"}, 4000, request, port_request(126, 0, "/tmp/t")},
           {{"log", "categories", "on"}, 5000, request, set_debug(1, 1, 1, 0, "/dev/pts/9")},
           {{"log", "categories", "on", "3", "--filters", "1,0,0,0x10", "--vty", "vty7"}, 5000,
            request, set_debug(1, 1, 0, 3, "vty7", {1, 0, 0, 0x10})},
           {{"log", "categories", "off", "all"}, 5000, request, set_debug(1, 0, 1, 0), kNoTty},
           {{"log", "dpps", "on", "1,2"}, 5000, request, set_debug(2, 1, 0, 3, "/dev/pts/9")},
           {{"log", "dpps", "off", "all"}, 5000, request, set_debug(2, 0, 1, 0, "/dev/pts/9")},
           {{"log", "level", "debug"}, 5000, request, set_debug(3, 0, 0, 7)},
           {{"log", "level", "4"}, 5000, request, set_debug(3, 0, 0, 4)},
           {{"log", "file", "dbg"}, 5000, request, set_debug(4, 1, 0, 0, "dbg")},
           {{"log", "file", "off"}, 5000, request, set_debug(4, 0, 0, 0)},
           {{"log", "show"}, 5001, request, {}},
           {{"release-all"}, 922, send, {}},
           {{"rebind"}, 6111, send, {0, 0, 0, 0}},
           {{"rebind", "--port0"}, 6111, send, {0, 0, 0, 1}},
           {{"notify", "dpp-up", "2"}, 7521, note, {0, 0, 0, 1}},
           {{"notify", "dpp-down", "1"}, 7522, note, {0, 0, 0, 0}},
           {{"notify", "feature-request", "0x91810000", "1", "2"}, 7571, note,
            wire::encode_feature_rqst(q)},
           {{"notify", "feature-complete", "5", "2:2", "3:1"}, 7572, note,
            wire::encode_feature_complete(c)},
           {{"notify", "timezone", "EST5"}, 3102, note, {'E', 'S', 'T', '5', 0}}}) {
    Action a = must_plan(t.argv, t.tty);
    std::string line = ::testing::PrintToString(t.argv);
    EXPECT_EQ(a.opcode, t.opcode) << line;
    EXPECT_EQ(a.kind, t.kind) << line;
    EXPECT_EQ(a.payload, t.payload) << line;
  }
  EXPECT_EQ(must_plan({"notify", "feature-failed"}).opcode, 7573u);
}

TEST(Plan, RepliesTerminalsTimeoutAndDirectory) {
  Action a = must_plan({"debug", "nivo", "ipstack", "tcp", "port", "3"});
  EXPECT_EQ(a.reply, ReplyUse::Confirm);
  EXPECT_NE(a.done.find("debug nivo ipstack tcp port 3"), std::string::npos) << a.done;
  a = must_plan({"show", "debug", "--vty", "/tmp/t"});
  EXPECT_EQ(a.reply, ReplyUse::Listing);
  EXPECT_EQ(a.vty, "/tmp/t");
  EXPECT_EQ(must_plan({"log", "show"}).reply, ReplyUse::Report);
  must_plan({"debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", std::string(99, 'v')});

  a = must_plan({"--timeout", "150", "log", "show", "--dir", "/tmp/x"});
  EXPECT_EQ(a.timeout, std::chrono::milliseconds(150));
  EXPECT_EQ(a.platform_dir, std::optional<std::string>("/tmp/x"));
  EXPECT_EQ(must_plan({"log", "show"}).timeout, kDefaultTimeout);
}

TEST(Plan, LinesThatCannotBeCarriedOutAreRefused) {
  UsageError e = must_refuse({"debug", "nivo", "ipstack", "tcp", "port", "3"}, kNoTty);
  EXPECT_NE(e.message.find("--vty"), std::string::npos) << e.message;
  EXPECT_EQ(e.topic, "debug");
  EXPECT_NE(must_refuse({"show", "debug"}, kNoTty).message.find("--vty"), std::string::npos);
  e = must_refuse({"debug", "nivo", "ipstack", "tpc", "port", "3"});
  EXPECT_NE(e.message.find("debug nivo ipstack tcp port N"), std::string::npos) << e.message;
  EXPECT_NE(e.message.find("dravikctl commands"), std::string::npos);
  EXPECT_EQ(must_refuse({"no", "nivo"}).topic, "no");
  for (const Argv& argv : std::vector<Argv>{
           {"debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", std::string(100, 'v')},
           {"show", "debugs"},
           {"show"},
           {"log", "categories", "off", "3", "--filters", "1"},
           {"log", "categories", "on", "all", "--filters", "1"},
           {"log", "categories", "on", "3", "--filters", "1,2,3,4,5"},
           {"log", "categories", "on", "30"},
           {"log", "categories", "on", "0"},
           {"log", "categories", "maybe"},
           {"log", "dpps", "on", "0"},
           {"log", "dpps", "on", "1,,2"},
           {"log", "level", "8"},
           {"log", "level", "LOUD"},
           {"log", "level", "3", "--vty", "x"},
           {"log"},
           {"release-all", "now"},
           {"debug", "nivo", "ipstack", "tcp", "port", "3", "--port0"},
           {"notify", "dpp-up", "0"},
           {"notify", "dpp-up", "33"},
           {"notify", "feature-complete", "5", "2"},
           {"notify", "reboot"},
           {"--timeout", "0", "log", "show"},
           {"--timeout", "soon", "log", "show"},
           {"log", "show", "--timeout"},
           {"log", "show", "--loud"},
           {"frobnicate"},
           {}})
    must_refuse(argv);
}

TEST(Plan, HelpNamesTheDeepestTopicOfTheWords) {
  EXPECT_EQ(must_plan({"--help"}).kind, ActionKind::Help);
  for (const auto& [argv, topic] : std::vector<std::pair<Argv, std::string>>{
           {{"--help"}, ""},
           {{"log", "categories", "--help"}, "log categories"},
           {{"help", "notify", "dpp-up"}, "notify dpp-up"},
           {{"debug", "nivo", "-h"}, "debug"},
           {{"no", "debug", "--help"}, "no debug"}})
    EXPECT_EQ(must_plan(argv).help_topic, topic);
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
