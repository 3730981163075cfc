// The operator tools as their users run them: exit statuses (0 done, 1 no
// answer, 2 a wrong command line, 3 the daemon did not do it) and the tools
// driving a real daemon.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "tests/support.h"

namespace e2e {
namespace {

ToolResult run(bool sim, const std::string& dir, const std::vector<std::string>& args) {
  return run_tool(sim ? DPPSIM_BINARY : DRAVIKCTL_BINARY, args, {{"DRAVIK_PLATFORM_DIR", dir}});
}

TEST(Tools, ExitStatusesAndWhatTheySay) {
  client::TempDir dead("dvkd-");
  const bool ctl = false, sim = true;
  const struct {
    bool sim;
    std::string line;  // the arguments, split at blanks
    int status;
    std::string says;
  } cases[] = {
      {ctl, "--help", 0, "--timeout MS=2000"},
      {ctl, "--version", 0, "dravikctl 1."},
      {ctl, "__complete --vty x debug nivo ipstack", 0, "\ntcpfsm\n"},
      {ctl, "__complete no", 0, "debug\n"},
      {ctl, "--vty /dev/null debug", 2, "the words that fit here: nivo, pemra\n"},
      {ctl, "log categories --filters 1", 2, "the table takes neither"},
      {ctl, "debg nivo", 2, "unknown command 'debg'; did you mean 'debug'?"},
      {ctl, "notify dpp-uq 1", 2, "unknown command 'dpp-uq'; did you mean 'dpp-up'?"},
      {ctl, "log level DEBG", 2, "did you mean 'DEBUG'?"},
      {ctl, "log categories on 5,memx", 2, "unknown category 'memx'; did you mean 'mem'?"},
      {sim, "send --help", 0, "Usage: dppsim send"},
      {ctl, "commands", 0, "   8  debug nivo ipstack tcp port N\n"},
      {ctl, "--timeout 200 --vty /dev/null debug nivo ip tcp port 3", 1,
       "cannot be reached: no socket vesk/930"},
      {ctl, "release-all", 1, "cannot be reached"},
      {ctl, "notify dpp-up 1", 1, "no SAP registered for opcode 7521"},
      {ctl, "notify feature-complete 7 1:2", 1, "no SAP registered for opcode 7572"},
      {ctl, "no", 2, "A subcommand is required"},
      {sim, "send text --dpp 1 hello", 1, "is dravik running there?"},
      {ctl, "", 2, "A subcommand is required"},
      {ctl, "--vty /dev/null debug nivo ipstack tpc port 3", 2, "ipstack tcp port N   (command 8)"},
      {ctl, "--vty /dev/null debug nivo ipstack e port 3", 2, "ambiguous"},
      {ctl, "--vty /dev/null debug nivx", 2, "the words that fit here: nivo, pemra\n"},
      {ctl, "debug nivo ipstack tcp port 3", 2, "--vty PATH"},  // no terminal
      {ctl, "--vty /dev/null debug nivo ipstack tcp port 0", 2, "port 0: ports are numbered"},
      {ctl, "log level 9", 2, "0-7"},
      {ctl, "log categories on 30", 2, "numbered 1 to 29"},
      {ctl, "notify dpp-up 0", 2, "numbered 1 to 32"},
      {ctl, "rebind --port1", 2, "not expected: --port1"},
      {sim, "send text --dpp 5 x", 2, "1 to 4"},
      {sim, "send log --dpp 1 x", 2, "--category"},
      {sim, "send log --dpp 1 --category ipc x", 2, "\"ipc\" names categories 1, 2, 3, 4"},
      {ctl, "notify feature-failed x", 2, "not expected: x"},
      {ctl, "notify", 2, "A subcommand is required"},
      {sim, "run --dpps 0", 2, "1 to 4"},
      {sim, "run --cores-per-dpp 0", 2, "not in range 1 to 4"},
      {sim, "fly", 2, "dppsim: unknown command 'fly'; one of: run, send"}};
  for (const auto& c : cases) {
    std::istringstream in(c.line);
    const std::vector<std::string> args{std::istream_iterator<std::string>(in), {}};
    ToolResult r = run(c.sim, dead.path, args);
    EXPECT_EQ(r.status, c.status) << c.line << r.err;
    EXPECT_TRUE(has(c.status == 0 ? r.out : r.err, c.says)) << r.out << r.err;
    EXPECT_TRUE(c.status != 1 || has(r.err, dead.path)) << r.err;
  }
  ToolResult r = run(ctl, dead.path + std::string(100, 'd'), {"log", "show"});
  EXPECT_EQ(r.status, 2);  // a platform directory too long for its sockets
  EXPECT_TRUE(has(r.err, "does not fit sun_path (107 bytes plus NUL)")) << r.err;
  EXPECT_EQ(run(sim, dead.path + std::string(100, 'd'), {"run"}).status, 1);
  r = run(ctl, dead.path + std::string(70, 'd'), {"show", "debug"});  // sockets fit, a file not
  EXPECT_TRUE(r.status == 2 && has(r.err, "name a terminal with --vty")) << r.err;
  r = run(ctl, dead.path, {"--vty", "/dev/null", "debug", "nivo", "ipstack", "tpc", "port", "3"});
  EXPECT_EQ(count_of(r.err, "(command "), 8u);  // the eight nearest
  for (const auto& [args, status, says] : {std::tuple{Lines{"--help"}, 0, "PM_DESCRIPTOR"},
                                           {Lines{"--version"}, 0, "dravik 1."},
                                           {Lines{"--help", "x"}, 255, "less than 6"}}) {
    r = run_tool(DRAVIK_BINARY, args, {{"DRAVIK_PLATFORM_DIR", dead.path}});
    EXPECT_EQ(r.status, status) << says;
    EXPECT_TRUE(has(r.out, says)) << r.out;
  }
  r = run(ctl, dead.path, {"commands"});
  EXPECT_EQ(count_of(r.out, "\n"), 122u);  // row 112 repeats row 111's text
  EXPECT_TRUE(has(r.out, " 111  debug pemra accel fenk N init X targ X write-acc dpp N   (also"))
      << r.out;
}

// The records of `tag` among the lines of out ("... mem: <tag> <n> ..."), in
// the order printed.
std::vector<int> numbers(const std::string& out, const std::string& tag) {
  std::vector<int> n;
  for (std::size_t at = out.find("mem: " + tag + " "); at != out.npos;
       at = out.find("mem: " + tag + " ", at + 1))
    n.push_back(std::atoi(out.c_str() + at + 6 + tag.size()));
  return n;
}

// Blocked until a file changes, with no time-out: poll(-1), or ppoll with
// no time where there is no poll. An idle follower costs nothing.
bool waits_without_timeout(pid_t pid) {
  std::istringstream in(
      client::read_file("/proc/" + std::to_string(pid) + "/syscall").value_or(""));
  long nr = -1;
  std::string fds, nfds, timeout;
  in >> nr >> fds >> nfds >> timeout;
#ifdef SYS_poll
  if (nr == SYS_poll) return timeout == "0xffffffff";
#endif
  return nr == SYS_ppoll && timeout == "0x0";
}

// Records of 221 B, 9,489 a lap (1.2 s at 8,000 a second, time enough for a
// follower in a sanitizer build on a busy machine): the follower sees 30,000 across three wraps
// once each, in order; log read ends with the newest; a follower stopped for
// more than a lap says it missed records and goes on in order.
TEST(Tools, FollowAndReadTheRing) {
  Daemon daemon;
  ASSERT_TRUE(daemon.idle(1));
  const std::string& dir = daemon.dir();
  auto send = [&](const std::string& tag, int count) {
    ToolResult r =
        run(true, dir,
            {"send", "log", "--dpp", "1", "--category", "5", "--count", std::to_string(count),
             "--rate", "8000", tag + " {n} " + std::string(200, 'x')});
    EXPECT_EQ(r.status, 0) << r.err;
  };
  EXPECT_EQ(run(false, dir, {"log", "file", "dbg"}).status, 0);
  EXPECT_EQ(run(false, dir, {"log", "dpps", "on", "1"}).status, 0);
  Process follow(DRAVIKCTL_BINARY, {"log", "follow", "--dpp", "1"}, {{"DRAVIK_PLATFORM_DIR", dir}},
                 dir, "follow");
  send("first", 1);
  ASSERT_TRUE(follow.wait_out("mem: first 1 ")) << follow.err();
  send("a", 30000);
  ASSERT_TRUE(follow.wait_out("mem: a 30000 ")) << follow.err();
  std::vector<int> a = numbers(follow.out(), "a");
  EXPECT_EQ(a.size(), 30000u);
  EXPECT_TRUE(std::adjacent_find(a.begin(), a.end(), [](int x, int y) { return y != x + 1; }) ==
              a.end());
  ToolResult read = run(false, dir, {"log", "read"});  // four files: each line says whose
  a = numbers(read.out, "a");
  EXPECT_TRUE(std::is_sorted(a.begin(), a.end()) && a.size() > 8000 && a.back() == 30000);
  EXPECT_TRUE(read.out.ends_with(" 30000 " + std::string(200, 'x') + "\n")) << read.err;
  EXPECT_EQ(count_of(read.out, "DPP-1: [DPP1] mem: a "), a.size());

  ASSERT_EQ(follow.signal(SIGSTOP), 0);
  send("b", 12000);
  ASSERT_EQ(follow.signal(SIGCONT), 0);
  send("c", 100);
  ASSERT_TRUE(follow.wait_out("mem: c 100 ")) << follow.err();
  EXPECT_TRUE(has(follow.err(), "DPP-1: records were missed")) << follow.err();
  const std::vector<int> b = numbers(follow.out(), "b"), c = numbers(follow.out(), "c");
  EXPECT_TRUE(std::is_sorted(b.begin(), b.end()) && b.back() == 12000 && b.size() < 12000);
  EXPECT_EQ(c.size(), 100u);
  EXPECT_LT(follow.out().rfind("mem: b "), follow.out().find("mem: c 1 "));
  EXPECT_TRUE(client::wait_for([&] { return waits_without_timeout(follow.pid()); }, kWait));
  ASSERT_EQ(follow.signal(SIGINT), 0);
  EXPECT_EQ(follow.wait_exit(), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(client::clients_dir(daemon.p)),
                          std::filesystem::directory_iterator()),
            0);
  read = run(false, dir, {"log", "read", "--name", "alt"});
  EXPECT_TRUE(read.status == 1 && has(read.err, "no file of the set \"alt\"")) << read.err;
  // With no daemon to ask: the set linked last, read as far as its stamps tell.
  ASSERT_EQ(daemon.proc->signal(SIGTERM), 0);
  EXPECT_EQ(daemon.wait_exit(), 0);
  read = run(false, dir, {"log", "read", "--dpp", "1"});
  const std::vector<int> c_read = numbers(read.out, "c");
  EXPECT_TRUE(read.status == 0 && std::is_sorted(c_read.begin(), c_read.end())) << read.err;
}

TEST(Tools, DriveARealDaemon) {
  Daemon daemon;
  ASSERT_TRUE(daemon.idle(1));
  const std::string& dir = daemon.dir();
  Process dpps(DPPSIM_BINARY, {"run"}, {{"DRAVIK_PLATFORM_DIR", dir}}, dir, "dppsim");
  ASSERT_TRUE(dpps.wait_out("dppsim: ready")) << dpps.err();
  for (const char* core : {"0.39.0", "15.39.0", "12.66.0"})
    EXPECT_TRUE(client::path_exists(dir + "/xipc/" + core)) << core;
  EXPECT_FALSE(client::path_exists(dir + "/xipc/16.39.0"));
  const std::string vty = dir + "/vty";
  touch(vty);
  auto ok = [&](const std::vector<std::string>& args) {
    ToolResult r = run(false, dir, args);
    EXPECT_EQ(r.status, 0) << ::testing::PrintToString(args) << r.err;
    return r.out;
  };
  EXPECT_EQ(ok({"--vty", vty, "debug", "nivo", "ip", "tcp", "port", "3"}),
            "debug nivo ipstack tcp port 3: subscribed for terminal " + vty +
                " (command 8, module 55, sent to core 2)\n");
  EXPECT_TRUE(
      dpps.wait_out("[DPP 1 core 2] FlagUpdateMsg on module 55 (nivo ipstack) mask 0x00000040 "
                    "port 3, no filter; bits now 0x00000040 [from 0.37.1024]"));
  // A terminal the daemon cannot open: the listing comes back in the reply.
  EXPECT_TRUE(has(ok({"--vty", dir + "/no/tty", "show", "debug"}),
                  "vty(" + vty + "):\n\tdebug nivo ipstack tcp port 3\n"));
  EXPECT_TRUE(has(ok({"--vty", vty, "show", "debug"}), "the listing went to the terminal " + vty));
  EXPECT_EQ(client::read_file(vty), "Current vty(" + vty + "):\n\tdebug nivo ipstack tcp port 3\n");
  ok({"--vty", vty, "no", "debug", "nivo", "ipstack", "tcp", "port", "3"});
  EXPECT_TRUE(dpps.wait_out("[DPP 1 core 2] FlagUpdateMsg off module 55"));
  ok({"--vty", vty, "debug", "pemra", "lrtp", "fenk", "7", "init_fcid", "1a", "targ_fcid", "2b",
      "pkt", "dpp", "2"});
  EXPECT_TRUE(dpps.wait_out("fenk 7 init_fcid 0x0000001A targ_fcid 0x0000002B"));
  ASSERT_EQ(dpps.signal(SIGUSR1), 0);
  EXPECT_TRUE(
      dpps.wait_out("(SIGUSR1)\nDPP 1: 3 flag update(s), 0 log-flag message(s)\n  debug bits: "
                    "core 1 (port 2) module 83 (pemra) 0x00400000\n  log flags: none received\n"));
  ok({"release-all"});
  EXPECT_TRUE(daemon.idle(7));

  ToolResult sent = run(true, dir, {"send", "text", "--dpp", "2", "--length", "3", "abcdef"});
  EXPECT_EQ(sent.status, 0) << sent.err;
  EXPECT_TRUE(has(sent.out, "dppsim: sent 1 ")) << sent.out;
  EXPECT_TRUE(daemon.idle(8));
  EXPECT_EQ(client::dbgfac_log_lines(daemon.p), Lines{"ab"});
  ok({"log", "dpps", "on", "1"});
  ok({"log", "categories", "on", "5", "--filters", "1,0x10", "--vty", vty});
  EXPECT_TRUE(
      dpps.wait_out("[DPP 1 core 0] DppFlagMsg level 6 (INFO) flags 0x00000010 categories 5 "
                    "filters 5:(1,0x10,0,0)"));
  EXPECT_EQ(client::dbgfac_vtys(daemon.p), Lines{vty});  // the facility's new terminal
  ok({"log", "level", "3"});
  EXPECT_TRUE(dpps.wait_out("DppFlagMsg level 3 (ERR)"));
  EXPECT_TRUE(has(ok({"notify", "dpp-up", "2"}), "sent to 1 SAP(s) registered for opcode 7521"));
  ok({"rebind", "--port0"});
  EXPECT_TRUE(daemon.idle(13));
  for (const char* opcode : {"7521", "6111"})
    EXPECT_TRUE(has(daemon.out(), std::string("VESK Opcode:") + opcode));

  ASSERT_EQ(dpps.signal(SIGTERM), 0);
  EXPECT_EQ(dpps.wait_exit(), 0);
  EXPECT_TRUE(has(dpps.out(), "state of the DPPs (SIGTERM, stopping)")) << dpps.out();
  EXPECT_TRUE(has(dpps.out(),
                  "DPP 1: 4 flag update(s), 2 log-flag message(s)\n  debug bits: none\n  log "
                  "flags: level 3 (ERR)"))
      << dpps.out();
}

// What the daemon answered but did not do, said with status 3; the truth comes
// from what the host platform shows, never from the daemon's replies.
TEST(Tools, SayWhatTheDaemonDidNotDo) {
  Daemon daemon;
  ASSERT_TRUE(daemon.idle(1));
  const std::string& dir = daemon.dir();
  Process dpps(DPPSIM_BINARY, {"run", "--dpps", "1"}, {{"DRAVIK_PLATFORM_DIR", dir}}, dir, "sim");
  ASSERT_TRUE(dpps.wait_out("dppsim: ready")) << dpps.err();
  const std::string vty = dir + "/vty", none = dir + "/none";
  touch(vty);
  std::string all = "1", big = "0x80000000";  // a report of them all is cut
  for (int n = 2; n <= 29; ++n) all += "," + std::to_string(n);
  for (int w = 2; w <= 4; ++w) big += ",0x80000000";
  const struct {
    std::string line;
    int status;
    std::string says;
  } cases[] = {
      {"--vty " + none + " debug nivo ip tcp port 1", 3,
       "cannot open the terminal " + none +
           " (No such file or directory), so it stored no "
           "subscription for it; it still switched the bits of \"debug nivo ipstack tcp port 1\" "
           "on "
           "at port 1, and no terminal owns them. Turn them off with: dravikctl --vty /dev/null no "
           "debug nivo ipstack tcp port 1"},
      {"--vty " + vty + " debug nivo ip tcp port 99", 3,
       "port 99 has no DPP core endpoint on the host (xipc/98.39.0: No such file"},
      {"--vty " + vty + " no debug nivo ip tcp port 99", 3, "the off-update reached no core"},
      {"--vty " + vty + " debug nivo ip tcp port 2", 0, "subscribed"},
      {"show debug", 0, "vty(" + vty + "):\n\tdebug nivo ipstack tcp port 2\n"},
      {"release-all", 0, "every subscription released"},
      {"show debug", 0, "No debugging is active\n"},
      {"--vty " + vty + " debug nivo iscsi event port 1 init ia tgt tb", 0, "subscribed"},
      {"log file a/b", 3, "could not create /cpp/plinder_dpp_logs/a/b.1"},
      {"log categories on 14", 0, "note: no DPP's logging is on"},
      {"log dpps on 1,5", 3, "DPP 5 is beyond the card (type 40, 4"},
      {"log categories on mem,ipc", 0, "1 (ipc), 2 (ipc), 3 (ipc), 4 (ipc), 5 (mem) switched on"},
      {"log categories off 4", 0, "switched off"},
      {"log categories", 0,
       " 1  ipc                unknown  unknown (hidden by 3, which is on)\n"
       " 2  ipc                off      unknown\n 3  ipc                on       0,0,0,0\n"},
      {"log level 3", 0, "(ERR)"},
      {"notify dpp-up 5", 3, "DPP 5 is beyond the card"},
      {"log file dbg", 0, "opened"},
      {"log categories on " + all + " --filters " + big, 0, "switched on"},
      {"log categories", 0, "29  fsm                unknown  unknown\n(the report was cut"}};
  for (const auto& c : cases) {
    std::istringstream in(c.line);
    ToolResult r = run(false, dir, {std::istream_iterator<std::string>(in), {}});
    EXPECT_EQ(r.status, c.status) << c.line << r.err;
    EXPECT_TRUE(has(r.out + r.err, c.says)) << c.line << "\n" << r.out << r.err;
  }
  EXPECT_TRUE(dpps.wait_out("init \"ia\" tgt \"tb\""));
  // The open set's files hold records: another name first, then back to it.
  run(true, dir, {"send", "log", "--dpp", "1", "--category", "0x85", "x"});
  ToolResult r = run(true, dir, {"send", "ipc", "tx", "--dpp", "1"});
  EXPECT_TRUE(has(r.out, "dppsim: sent 1 TX IPC header record(s)")) << r.out;
  EXPECT_TRUE(client::wait_for(
      [&] {
        return client::read_file(dir + "/fs/cpp/plinder_dpp_logs/dbg.1").value_or("").size() > 0;
      },
      kWait));
  EXPECT_EQ(run(false, dir, {"log", "file", "dbg"}).status, 0);  // the set already open
  EXPECT_EQ(run(false, dir, {"log", "file", "other"}).status, 0);
  r = run(false, dir, {"log", "file", "dbg"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "already hold records, and opening the set empties them: add --force"));
  EXPECT_EQ(run(false, dir, {"log", "file", "dbg", "--force"}).status, 0);

  // Stopped: no answer in time, and no reply socket left behind by Ctrl-C.
  ASSERT_EQ(daemon.proc->signal(SIGSTOP), 0);
  r = run(false, dir, {"--timeout", "50", "release-all"});  // sent, but its check is not answered
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "did not answer within 50 ms")) << r.err;
  EXPECT_TRUE(has(r.err, "the request may still take effect")) << r.err;
  Process ctl(DRAVIKCTL_BINARY, {"--timeout", "60000", "log", "show"},
              {{"DRAVIK_PLATFORM_DIR", dir}}, dir, "ctl");
  auto clients = [&] {
    return std::distance(std::filesystem::directory_iterator(dir + "/clients"), {});
  };
  ASSERT_TRUE(client::wait_for([&] { return clients() == 1; }, kWait));
  ctl.signal(SIGINT);
  EXPECT_EQ(ctl.wait_exit(), 128 + SIGINT);
  EXPECT_EQ(clients(), 0);
  ASSERT_EQ(daemon.proc->signal(SIGCONT), 0);

  Process send(DPPSIM_BINARY,
               {"send", "text", "--dpp", "1", "--count", "1000", "--rate", "50", "x"},
               {{"DRAVIK_PLATFORM_DIR", dir}}, dir, "send");
  ASSERT_TRUE(send.wait_out("progress:"));
  send.signal(SIGINT);
  EXPECT_EQ(send.wait_exit(), 128 + SIGINT);
  EXPECT_TRUE(has(send.out(), "dppsim: stopped by SIGINT: sent ")) << send.out();
}

}  // namespace
}  // namespace e2e
