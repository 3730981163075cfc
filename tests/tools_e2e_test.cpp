// The operator tools as their users run them: exit statuses (1 when no
// daemon answers, 2 for a wrong command line), and dravikctl and dppsim
// driving a real daemon — a subscription reaching a simulated DPP core, the
// listing, log records landing in a per-DPP file, a notification arriving.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/daemon.h"
#include "tests/tools_process.h"
#include "tools/client/platform_dir.h"
#include "tools/client/platform_files.h"
#include "tools/client/temp_dir.h"
#include "tools/client/unix_socket.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
constexpr auto kRun = 30s;  // a tool's whole run, sanitizers included

bool has(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }

ToolResult ctl(const std::string& dir, const std::vector<std::string>& args) {
  return run_tool(dravikctl_binary(), args, {{"DRAVIK_PLATFORM_DIR", dir}}, kRun);
}

ToolResult sim(const std::string& dir, const std::vector<std::string>& args) {
  return run_tool(dppsim_binary(), args, {{"DRAVIK_PLATFORM_DIR", dir}}, kRun);
}

TEST(ToolsExitStatus, NoDaemonMeansStatus1AndTheMessageNamesThePlatformDirectory) {
  client::TempDir dead("dvkd-");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--timeout", "200", "--vty", "/dev/null", "debug", "nivo", "ipstack", "tcp", "port",
            "3"},
           {"--timeout", "200", "log", "show"}}) {
    ToolResult r = ctl(dead.path, args);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "did not answer within 200 ms")) << r.err;
    EXPECT_TRUE(has(r.err, dead.path)) << r.err;
  }
  ToolResult r = ctl(dead.path, {"release-all"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, dead.path)) << r.err;
  r = sim(dead.path, {"send", "text", "--dpp", "1", "hello"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "is dravik running there?")) << r.err;
}

TEST(ToolsExitStatus, ASilentSapTimesOutAfterTheTimeout) {
  client::TempDir dir("dvkd-");
  client::PlatformDir p = client::platform_at(dir.path);
  ASSERT_EQ(client::make_dirs(dir.path + "/vesk"), 0);
  client::BoundSocket silent;
  ASSERT_EQ(client::bind_dgram(client::vesk_path(p, 930), silent), 0);

  auto start = std::chrono::steady_clock::now();
  ToolResult r = ctl(dir.path, {"--timeout", "300", "log", "show"});
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(has(r.err, "did not answer within 300 ms")) << r.err;
  EXPECT_GE(took, 300ms);
  // The request did reach the socket.
  EXPECT_TRUE(client::recv_dgram(silent.fd.fd, 0ms).has_value());
}

TEST(ToolsExitStatus, WrongCommandLinesMeanStatus2) {
  client::TempDir dir("dvkd-");
  struct Case {
    std::vector<std::string> args;
    std::string_view says;
  };
  for (const Case& c : std::vector<Case>{
           {{}, "no command given"},
           {{"--vty", "/dev/null", "debug", "nivo", "ipstack", "tpc", "port", "3"},
            "debug nivo ipstack tcp port N   (command 8)"},
           {{"--vty", "/dev/null", "debug", "nivo", "ipstack", "e", "port", "3"}, "ambiguous"},
           {{"debug", "nivo", "ipstack", "tcp", "port", "3"}, "--vty PATH"},  // stdin: no tty
           {{"log", "level", "9"}, "0-7"},
           {{"notify", "dpp-up", "0"}, "numbered 1 to 32"},
           {{"--timeout", "soon", "log", "show"}, "--timeout"},
           {{"rebind", "--port1"}, "unknown option --port1"}}) {
    ToolResult r = ctl(dir.path, c.args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(has(r.err, c.says)) << r.err;
  }
  for (const Case& c : std::vector<Case>{{{}, "no command given"},
                                         {{"send", "text", "--dpp", "5", "x"}, "1 to 4"},
                                         {{"send", "log", "--dpp", "1", "x"}, "--category"},
                                         {{"run", "--dpps", "0"}, "1 to 4"},
                                         {{"fly"}, "unknown command"}}) {
    ToolResult r = sim(dir.path, c.args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(has(r.err, c.says)) << r.err;
  }
}

TEST(ToolsExitStatus, HelpAndTheCommandListExitWith0) {
  client::TempDir dir("dvkd-");
  ToolResult r = ctl(dir.path, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "usage: dravikctl"));
  r = ctl(dir.path, {"log", "categories", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "usage: dravikctl log categories on|off"));
  r = sim(dir.path, {"send", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "usage: dppsim send"));

  r = ctl(dir.path, {"commands"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count_in(r.out, "\n"), 122u);
  EXPECT_TRUE(has(r.out, "   8  debug nivo ipstack tcp port N\n")) << r.out;
  EXPECT_TRUE(has(r.out, " 111  debug pemra accel fenk N init X targ X write-acc dpp N")) << r.out;
  EXPECT_FALSE(has(r.out, " 112  "));
}

// A daemon with the card's four DPPs beside it, both driven by the tools.
class ToolsWithDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon_.wait_ready());
    dpps_ = std::make_unique<BackgroundTool>(dppsim_binary(), std::vector<std::string>{"run"},
                                             Env{{"DRAVIK_PLATFORM_DIR", daemon_.dir()}});
    ASSERT_TRUE(dpps_->wait_out("dppsim: ready", kWait)) << dpps_->err();
    vty_ = daemon_.dir() + "/vty";
    // The terminal must exist: the daemon opens it without creating it.
    FILE* f = std::fopen(vty_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }

  ToolResult ctl(const std::vector<std::string>& args) { return e2e::ctl(daemon_.dir(), args); }
  ToolResult sim(const std::vector<std::string>& args) { return e2e::sim(daemon_.dir(), args); }

  DaemonProcess daemon_;
  std::unique_ptr<BackgroundTool> dpps_;
  std::string vty_;
};

TEST_F(ToolsWithDaemon, ASubscriptionReachesTheDppCoreAndIsListedBack) {
  ToolResult r = ctl({"--vty", vty_, "debug", "nivo", "ip", "tcp", "port", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "debug nivo ipstack tcp port 3: subscribed")) << r.out;
  ASSERT_TRUE(dpps_->wait_out(
      "[DPP 1 core 2] FlagUpdateMsg on module 55 (nivo ipstack) mask 0x00000040 port 3", kWait))
      << dpps_->out();

  r = ctl({"--vty", vty_, "show", "debug"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "the listing went to the terminal " + vty_)) << r.out;
  EXPECT_TRUE(has(client::read_file(vty_).value_or(""), "\tdebug nivo ipstack tcp port 3\n"));

  // A terminal the daemon cannot open: the listing comes back in the reply.
  r = ctl({"--vty", daemon_.dir() + "/no/such/tty", "show", "debug"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "vty(" + vty_ + "):\n\tdebug nivo ipstack tcp port 3\n")) << r.out;

  r = ctl({"--vty", vty_, "no", "debug", "nivo", "ipstack", "tcp", "port", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(dpps_->wait_out("FlagUpdateMsg off module 55", kWait)) << dpps_->out();

  ASSERT_EQ(dpps_->send_signal(SIGUSR1), 0);
  ASSERT_TRUE(dpps_->wait_out("state of the DPPs (SIGUSR1)", kWait));
  ASSERT_EQ(dpps_->send_signal(SIGTERM), 0);
  EXPECT_EQ(dpps_->wait_exit(kWait), std::optional<int>(0));
  std::string out = dpps_->out();
  EXPECT_TRUE(has(out, "state of the DPPs (SIGTERM, stopping)")) << out;
  EXPECT_TRUE(has(out, "DPP 1: 2 flag update(s)")) << out;
  // The endpoints are unbound when dppsim ends.
  EXPECT_FALSE(client::path_exists(daemon_.dir() + "/xipc/2.39.0"));
}

TEST_F(ToolsWithDaemon, LogRecordsSentByDppsimLandInThePerDppFile) {
  ASSERT_EQ(ctl({"log", "file", "dbg"}).status, 0);
  ASSERT_EQ(ctl({"log", "dpps", "on", "1"}).status, 0);
  ToolResult r = ctl({"log", "categories", "on", "5", "--filters", "1,0x10"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(
      dpps_->wait_out("[DPP 1 core 0] DppFlagMsg level 6 (INFO) flags 0x00000010 "
                      "categories 5 filters 5:(1,0x10,0,0)",
                      kWait))
      << dpps_->out();

  r = sim({"send", "log", "--dpp", "1", "--category", "5", "--count", "40", "record {n}"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "dppsim: sent 40 log record(s) of category 5 from DPP 1 core 0")) << r.out;

  const std::string file = daemon_.platform().fs_root + "/cpp/plinder_dpp_logs/dbg.1";
  std::string report;
  // The file is written through a stream buffer; each report flushes it.
  ASSERT_TRUE(client::wait_for(
      [&] {
        report = ctl({"log", "show"}).out;
        return has(client::read_file(file).value_or(""), "[DPP1] mem: record 40\n");
      },
      kWait));
  std::string text = client::read_file(file).value_or("");
  EXPECT_TRUE(text.starts_with("#### ")) << text;
  EXPECT_EQ(count_in(text, "[DPP1] mem: record "), 40u);
  EXPECT_TRUE(has(report, "DPP-1 logfile: dbg.1")) << report;
  EXPECT_TRUE(has(report, "memory management is on\n    filter 1 is 0x00000001 (1)\n")) << report;
}

TEST_F(ToolsWithDaemon, NotificationsReachTheRegisteredSap) {
  ToolResult r = ctl({"notify", "dpp-up", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "sent to 1 SAP(s) registered for opcode 7521")) << r.out;
  EXPECT_TRUE(daemon_.wait_stdout_contains("VESK Opcode:7521"));
  r = ctl({"notify", "timezone", "UTC"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(daemon_.wait_stdout_contains("VESK Opcode:3102"));
  r = ctl({"rebind"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(daemon_.wait_stdout_contains("VESK Opcode:6111"));
}

}  // namespace
}  // namespace e2e
