// The operator tools as their users run them: exit statuses (0, 1 when no
// daemon answers, 2 for a wrong command line), and what the main job's
// session does not show of dravikctl and dppsim driving a real daemon.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <memory>

#include "tests/daemon.h"
#include "tests/tools_process.h"
#include "tools/client/platform_files.h"
#include "tools/client/temp_dir.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

bool has(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }

ToolResult run(bool sim, const std::string& dir, const std::vector<std::string>& args) {
  return run_tool(sim ? dppsim_binary() : dravikctl_binary(), args, {{"DRAVIK_PLATFORM_DIR", dir}},
                  30s);
}

TEST(ToolsExitStatus, HelpIs0NoAnswerIs1AndNamesTheDirectoryWrongLinesAre2) {
  client::TempDir dead("dvkd-");
  struct Case {
    bool sim;
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const bool ctl = false, sim = true;
  for (const Case& c : std::vector<Case>{
           {ctl, {"--help"}, 0, "usage: dravikctl"},
           {ctl, {"log", "categories", "--help"}, 0, "usage: dravikctl log categories on|off"},
           {sim, {"send", "--help"}, 0, "usage: dppsim send"},
           {ctl, {"commands"}, 0, "   8  debug nivo ipstack tcp port N\n"},
           {ctl, {"--timeout", "200", "--vty", "/dev/null", "debug", "nivo", "ipstack", "tcp",
                  "port", "3"}, 1, "did not answer within 200 ms"},
           {ctl, {"--timeout", "200", "log", "show"}, 1, "did not answer within 200 ms"},
           {ctl, {"release-all"}, 1, dead.path},
           {sim, {"send", "text", "--dpp", "1", "hello"}, 1, "is dravik running there?"},
           {ctl, {}, 2, "no command given"},
           {ctl, {"--vty", "/dev/null", "debug", "nivo", "ipstack", "tpc", "port", "3"}, 2,
            "debug nivo ipstack tcp port N   (command 8)"},
           {ctl, {"--vty", "/dev/null", "debug", "nivo", "ipstack", "e", "port", "3"}, 2, "ambiguous"},
           {ctl, {"debug", "nivo", "ipstack", "tcp", "port", "3"}, 2, "--vty PATH"},  // no tty
           {ctl, {"log", "level", "9"}, 2, "0-7"},
           {ctl, {"notify", "dpp-up", "0"}, 2, "numbered 1 to 32"},
           {ctl, {"--timeout", "soon", "log", "show"}, 2, "--timeout"},
           {ctl, {"rebind", "--port1"}, 2, "unknown option --port1"},
           {sim, {}, 2, "no command given"},
           {sim, {"send", "text", "--dpp", "5", "x"}, 2, "1 to 4"},
           {sim, {"send", "log", "--dpp", "1", "x"}, 2, "--category"},
           {sim, {"run", "--dpps", "0"}, 2, "1 to 4"},
           {sim, {"fly"}, 2, "unknown command"}}) {
    ToolResult r = run(c.sim, dead.path, c.args);
    EXPECT_EQ(r.status, c.status) << ::testing::PrintToString(c.args) << r.err;
    EXPECT_TRUE(has(c.status == 0 ? r.out : r.err, c.says)) << r.out << r.err;
    if (c.status == 1) {
      EXPECT_TRUE(has(r.err, dead.path)) << r.err;
    }
  }
  ToolResult r = run(ctl, dead.path, {"commands"});
  EXPECT_EQ(count_in(r.out, "\n"), 122u);  // row 112 repeats row 111's text
  EXPECT_TRUE(has(r.out, " 111  debug pemra accel fenk N init X targ X write-acc dpp N")) << r.out;
}

TEST(ToolsWithDaemon, ReleaseReplyListingFiltersNotificationsAndDppsimState) {
  DaemonProcess daemon;
  ASSERT_TRUE(daemon.wait_ready());
  const std::string& dir = daemon.dir();
  BackgroundTool dpps(dppsim_binary(), {"run"}, {{"DRAVIK_PLATFORM_DIR", dir}});
  ASSERT_TRUE(dpps.wait_out("dppsim: ready", kWait)) << dpps.err();
  const std::string vty = dir + "/vty";  // the daemon opens it without creating it
  std::fclose(std::fopen(vty.c_str(), "w"));
  auto ok = [&](const std::vector<std::string>& args) {
    ToolResult r = run(false, dir, args);
    EXPECT_EQ(r.status, 0) << ::testing::PrintToString(args) << r.err;
    return r.out;
  };

  EXPECT_TRUE(has(ok({"--vty", vty, "debug", "nivo", "ip", "tcp", "port", "3"}),
                  "debug nivo ipstack tcp port 3: subscribed"));
  // A terminal the daemon cannot open: the listing comes back in the reply.
  std::string out = ok({"--vty", dir + "/no/such/tty", "show", "debug"});
  EXPECT_TRUE(has(out, "vty(" + vty + "):\n\tdebug nivo ipstack tcp port 3\n")) << out;
  ok({"--vty", vty, "no", "debug", "nivo", "ipstack", "tcp", "port", "3"});
  EXPECT_TRUE(dpps.wait_out("[DPP 1 core 2] FlagUpdateMsg off module 55", kWait)) << dpps.out();

  ok({"log", "dpps", "on", "1"});
  ok({"log", "categories", "on", "5", "--filters", "1,0x10"});
  EXPECT_TRUE(dpps.wait_out("[DPP 1 core 0] DppFlagMsg level 6 (INFO) flags 0x00000010 "
                            "categories 5 filters 5:(1,0x10,0,0)",
                            kWait))
      << dpps.out();
  out = ok({"log", "show"});
  EXPECT_TRUE(has(out, "memory management is on\n    filter 1 is 0x00000001 (1)\n")) << out;

  EXPECT_TRUE(has(ok({"notify", "dpp-up", "2"}), "sent to 1 SAP(s) registered for opcode 7521"));
  EXPECT_TRUE(daemon.wait_stdout_contains("VESK Opcode:7521"));
  ok({"notify", "timezone", "UTC"});
  EXPECT_TRUE(daemon.wait_stdout_contains("VESK Opcode:3102"));
  ok({"rebind"});
  EXPECT_TRUE(daemon.wait_stdout_contains("VESK Opcode:6111"));

  ASSERT_EQ(dpps.send_signal(SIGUSR1), 0);
  EXPECT_TRUE(dpps.wait_out("state of the DPPs (SIGUSR1)", kWait));
  ASSERT_EQ(dpps.send_signal(SIGTERM), 0);
  EXPECT_EQ(dpps.wait_exit(kWait), std::optional<int>(0));
  EXPECT_TRUE(has(dpps.out(), "state of the DPPs (SIGTERM, stopping)")) << dpps.out();
  EXPECT_TRUE(has(dpps.out(), "DPP 1: 2 flag update(s)")) << dpps.out();
}

}  // namespace
}  // namespace e2e
