// The DPP debug log manager's start seen from outside: its start-up lines, the
// first flag broadcast to every DPP of the card, its opcode registrations, and
// the start-up failures driven through DRAVIK_FAIL.
//
// The first broadcast goes out before the daemon's loop starts, so the fake
// DPP endpoints must exist before the daemon runs: a gated start runs the
// daemon through a small wrapper that waits on a FIFO in the platform
// directory until the test has bound its endpoints.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/daemon.h"
#include "tools/client/platform_files.h"
#include "tools/client/vesk_client.h"
#include "tools/client/xipc_peer.h"
#include "wire/dpp_flag_msg.h"
#include "wire/dpp_log_msg.h"
#include "wire/dpp_notify.h"
#include "wire/set_debug_request.h"

namespace e2e {
namespace {

using client::path_exists;
using Buf = std::vector<std::uint8_t>;

constexpr unsigned kSap = 930;
constexpr std::uint32_t kManagerOpcodes[] = {7522, 7521, 7571, 7572, 7573, 3102};
constexpr std::string_view kAfterSocket = "Created socket : ";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

// The manager's lines: everything after the XIPC socket's line.
std::vector<std::string> manager_lines(const std::string& out) {
  auto lines = lines_of(out);
  std::size_t i = 0;
  while (i < lines.size() && !lines[i].starts_with(kAfterSocket)) ++i;
  return i < lines.size() ? std::vector<std::string>(lines.begin() + i + 1, lines.end())
                          : std::vector<std::string>{};
}

// The category table's check: rows 1 to 29 OK, with rows 3 and 4 announcing
// the categories they override before their own OK line.
std::vector<std::string> flag_check_lines() {
  std::vector<std::string> out;
  for (int n = 1; n <= 29; ++n) {
    if (n == 3 || n == 4)
      out.push_back("DPPDEBUG_MGR_INFO: " + std::to_string(n - 2) + " is overridden by " +
                    std::to_string(n));
    out.push_back("DPPDEBUG_MGR_INFO: flag " + std::to_string(n) + " is OK");
  }
  return out;
}

std::string sending_line(int dpp) {
  return "DPPDEBUG_MGR_INFO: Sending flag 0x0 level 6 to DPP " + std::to_string(dpp);
}

client::XipcEndpoint log_service(int dpp) {
  return {static_cast<std::uint16_t>(4 * (dpp - 1)), kXipcModuleDppLog, 0};
}

// An empty-flags DppFlagMsg at the default level, from the daemon's endpoint.
::testing::AssertionResult is_empty_flags(const std::optional<client::XipcFrame>& f) {
  if (!f) return ::testing::AssertionFailure() << "no datagram";
  if (f->payload.size() != wire::dpp_flag::kSize)
    return ::testing::AssertionFailure() << f->payload.size() << " bytes";
  if (f->sender.module != kXipcModuleDaemon || f->sender.port != 1024 ||
      f->sender.opcode != kXipcOpcodeDppLogFlags || f->sender.length != wire::dpp_flag::kSize)
    return ::testing::AssertionFailure()
           << "sender module " << f->sender.module << " port " << f->sender.port << " opcode "
           << f->sender.opcode << " length " << f->sender.length;
  auto m = wire::decode_dpp_flag(f->payload);
  if (m.num_categories != 29 || m.level != 6 || m.flags != 0)
    return ::testing::AssertionFailure() << "categories " << int(m.num_categories) << " level "
                                         << int(m.level) << " flags " << m.flags;
  return ::testing::AssertionSuccess();
}

// Sets an environment variable for the life of the holder, then restores it.
struct ScopedEnv {
  std::string name;
  std::optional<std::string> old;
  ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) {
    if (const char* v = std::getenv(name.c_str())) old = v;
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old)
      ::setenv(name.c_str(), old->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
};

// A daemon that waits, before it runs at all, until the test opens its gate:
// the wrapper (the fixture's working directory is the platform directory)
// makes the FIFO "gate", blocks reading it, then becomes the real daemon.
struct GatedDaemon {
  client::TempDir scripts{"dvkg-"};
  std::unique_ptr<DaemonProcess> daemon;

  explicit GatedDaemon(DaemonOptions o) {
    const std::string wrapper = scripts.path + "/gated-dravik";
    {
      std::ofstream s(wrapper);
      s << "#!/bin/sh\nmkfifo gate || exit 127\nread -r go < gate\nrm -f gate\n"
           "exec \"$DPPLOG_E2E_DAEMON\" \"$@\"\n";
    }
    ::chmod(wrapper.c_str(), 0700);
    o.env("DPPLOG_E2E_DAEMON", daemon_binary());
    ScopedEnv binary("DRAVIK_BINARY", wrapper);
    daemon = std::make_unique<DaemonProcess>(std::move(o));
  }

  DaemonProcess& d() { return *daemon; }

  // Lets the daemon run. The open succeeds once the wrapper reads the FIFO.
  bool open_gate() {
    const std::string gate = daemon->dir() + "/gate";
    int fd = -1;
    if (!client::wait_for(
            [&] { return (fd = ::open(gate.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; },
            kWait))
      return false;
    bool ok = ::write(fd, "go\n", 3) == 3;
    ::close(fd);
    return ok;
  }
};

// --- start-up lines and the first broadcast -----------------------------------

TEST(DppLogStartupTest, FourDppCardPrintsItsLinesAndTellsEveryDppOnce) {
  GatedDaemon g(DaemonOptions{});
  std::vector<std::unique_ptr<client::FakeDppEndpoint>> dpps;
  for (int n = 1; n <= 4; ++n)
    dpps.push_back(
        std::make_unique<client::FakeDppEndpoint>(g.d().platform(), log_service(n)));
  ASSERT_TRUE(g.open_gate());
  ASSERT_TRUE(g.d().wait_ready());

  std::vector<std::string> expected = flag_check_lines();
  expected.push_back("DPPDEBUG_MGR_INFO: vesk bind successful");
  expected.push_back("DPPDEBUG_MGR_DBG: Initializing xipc address");
  for (int n = 1; n <= 4; ++n) expected.push_back(sending_line(n));
  expected.push_back(std::string(kReadyLine));
  EXPECT_EQ(manager_lines(g.d().stdout_text()), expected);
  EXPECT_EQ(g.d().stderr_text(), "");

  for (int n = 1; n <= 4; ++n) {
    auto& ep = *dpps[n - 1];
    EXPECT_TRUE(is_empty_flags(ep.recv(kWait))) << "DPP " << n;
    EXPECT_TRUE(ep.drain().empty()) << "DPP " << n << " was sent more than one message";
  }
}

TEST(DppLogStartupTest, OneDppCardTellsOnlyDppOne) {
  GatedDaemon g(DaemonOptions().card("41"));
  client::FakeDppEndpoint dpp1(g.d().platform(), log_service(1));
  client::FakeDppEndpoint dpp2(g.d().platform(), log_service(2));
  ASSERT_TRUE(g.open_gate());
  ASSERT_TRUE(g.d().wait_ready());
  EXPECT_TRUE(is_empty_flags(dpp1.recv(kWait)));
  EXPECT_TRUE(dpp1.drain().empty());
  EXPECT_TRUE(dpp2.drain().empty());
  auto lines = manager_lines(g.d().stdout_text());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"DPPDEBUG_MGR_DBG: Initializing xipc address",
                                      sending_line(1), std::string(kReadyLine)}));
  EXPECT_EQ(g.d().stdout_text().find("to DPP 2"), std::string::npos);
}

// The card the system manager starts has one DPP too (its standard output
// stays buffered, so only the DPPs' side is looked at).
TEST(DppLogStartupTest, Card163TellsOnlyDppOne) {
  GatedDaemon g(DaemonOptions().card("163").no_args());
  client::FakeDppEndpoint dpp1(g.d().platform(), log_service(1));
  client::FakeDppEndpoint dpp2(g.d().platform(), log_service(2));
  ASSERT_TRUE(g.open_gate());
  ASSERT_TRUE(g.d().wait_handshake());
  EXPECT_TRUE(is_empty_flags(dpp1.recv(kWait)));
  auto r = client::request(g.d().platform(), kSap, 5001, {}, kWait);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->payload.size(), 42u);
  EXPECT_TRUE(dpp1.drain().empty());
  EXPECT_TRUE(dpp2.drain().empty());
}

// A DPP that is not up fails its send, reported on standard error, and the
// broadcast goes on with the next DPP.
TEST(DppLogStartupTest, DppsThatAreNotUpAreReportedAndSkipped) {
  GatedDaemon g(DaemonOptions{});
  client::FakeDppEndpoint dpp2(g.d().platform(), log_service(2));
  client::FakeDppEndpoint dpp4(g.d().platform(), log_service(4));
  ASSERT_TRUE(g.open_gate());
  ASSERT_TRUE(g.d().wait_ready());
  EXPECT_TRUE(is_empty_flags(dpp2.recv(kWait)));
  EXPECT_TRUE(is_empty_flags(dpp4.recv(kWait)));
  auto lines = manager_lines(g.d().stdout_text());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"DPPDEBUG_MGR_DBG: Initializing xipc address",
                                      sending_line(2), sending_line(4),
                                      std::string(kReadyLine)}));
  EXPECT_EQ(g.d().stderr_text(),
            "send xipc message: No such file or directory\n"
            "send xipc message: No such file or directory\n");
}

TEST(DppLogStartupTest, RegistersTheSixNotificationOpcodesAndNotTheRequests) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_TRUE(path_exists(client::vesk_reg_path(d.platform(), op, kSap))) << op;
  EXPECT_FALSE(path_exists(client::vesk_reg_path(d.platform(), 5000, kSap)));
  EXPECT_FALSE(path_exists(client::vesk_reg_path(d.platform(), 5001, kSap)));
  // The registrations are live: each notification finds the daemon.
  std::size_t passes = 1;
  for (std::uint32_t op : kManagerOpcodes) {
    EXPECT_EQ(client::notify(d.platform(), op, wire::encode_dpp_index(7)), 1) << op;
    ASSERT_TRUE(d.wait_idle(++passes)) << op;
    EXPECT_NE(d.stdout_text().find("VESK Opcode:" + std::to_string(op) + "\n"),
              std::string::npos);
  }
  EXPECT_EQ(d.stdout_text().find("DPPDEBUG_MGR_ERR"), std::string::npos);
  // Notifications are not answered; a shutdown leaves no registration behind.
  ASSERT_EQ(d.send_signal(SIGTERM), 0);
  ASSERT_TRUE(d.wait_exit());
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_FALSE(path_exists(client::vesk_reg_path(d.platform(), op, kSap))) << op;
}

TEST(DppLogStartupTest, CreatesTheLogDirectoryOrLeavesAnExistingOneAlone) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  {
    DaemonProcess d;
    ASSERT_TRUE(d.wait_ready());
    struct stat st{};
    const std::string dir = client::fs_path(d.platform(), "/cpp/plinder_dpp_logs");
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // Every permission bit and the sticky bit, less the umask (Linux
    // decides the set-id bits of a new directory by itself).
    EXPECT_EQ(st.st_mode & 01777, 01777 & ~mask);
  }
  client::TempDir root("dvkr-");
  const std::string dir = root.path + "/cpp/plinder_dpp_logs";
  ASSERT_EQ(client::make_dirs(dir), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
  { std::ofstream(dir + "/kept") << "old log\n"; }
  DaemonProcess d(DaemonOptions().root(root.path));
  ASSERT_TRUE(d.wait_ready());
  struct stat st{};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(client::read_file(dir + "/kept"), "old log\n");
  EXPECT_NE(d.stdout_text().find("DPPDEBUG_MGR_INFO: vesk bind successful\n"), std::string::npos);
}

// --- start-up failures ----------------------------------------------------------

std::string show_report(DaemonProcess& d) {
  auto r = client::request(d.platform(), kSap, 5001, {}, kWait);
  if (!r || r->payload.empty()) return "<no report>";
  return std::string(r->payload.begin(), r->payload.end() - 1);
}

::testing::AssertionResult set_debug_answered(DaemonProcess& d, wire::SetDebugRequest r) {
  auto reply = client::request(d.platform(), kSap, 5000, wire::encode_set_debug(r), kWait);
  if (!reply) return ::testing::AssertionFailure() << "no reply to type " << int(r.type);
  if (reply->header != wire::kReplyHeaderBytes || !reply->payload.empty())
    return ::testing::AssertionFailure() << "reply of " << reply->payload.size() << " bytes";
  return ::testing::AssertionSuccess();
}

TEST(DppLogStartupFailureTest, LogDirectoryNotCreatableLeavesTheDaemonServing) {
  DaemonProcess d(DaemonOptions().failing("fs_mkdir"));
  ASSERT_TRUE(d.wait_ready());
  auto lines = manager_lines(d.stdout_text());
  std::vector<std::string> expected = flag_check_lines();
  expected.push_back("DPPDEBUG_MGR_INFO: Unable to Create DPP Debug log dir");
  expected.push_back(std::string(kReadyLine));
  EXPECT_EQ(lines, expected);
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_FALSE(path_exists(client::vesk_reg_path(d.platform(), op, kSap))) << op;
  EXPECT_TRUE(path_exists(client::vesk_path(d.platform(), kSap)));

  // Without a manager every request is still answered, and nothing reaches
  // a DPP or a log file.
  client::FakeDppEndpoint dpp1(d.platform(), log_service(1));
  wire::SetDebugRequest all_on{.type = 1, .on = 1, .all = 1, .name = "/dev/null"};
  EXPECT_TRUE(set_debug_answered(d, all_on));
  EXPECT_TRUE(set_debug_answered(d, {.type = 2, .on = 1, .all = 1, .name = "/dev/null"}));
  EXPECT_TRUE(set_debug_answered(d, {.type = 3, .level = 7, .name = ""}));
  EXPECT_TRUE(set_debug_answered(d, {.type = 4, .on = 1, .name = "dbg"}));
  EXPECT_TRUE(set_debug_answered(d, {.type = 9, .name = ""}));
  EXPECT_TRUE(dpp1.drain().empty());
  EXPECT_FALSE(path_exists(client::fs_path(d.platform(), "/cpp/plinder_dpp_logs/dbg.1")));
  EXPECT_NE(d.stdout_text().find("DPPDEBUG_MGR_DBG: Initializing xipc address"),
            std::string::npos);
  EXPECT_EQ(d.stdout_text().find("Sending flag"), std::string::npos);
  // No DPP can join the map of a manager without DPPs.
  const std::string head = "\nDebug level: 7 (DEBUG)\n\nDPP instances: \n\n";
  std::string report = show_report(d);
  EXPECT_TRUE(report.starts_with(head + "rx ipc message is on\n")) << report;
  EXPECT_NE(report.find("memory management is on\n"), std::string::npos);

  // Notifications and DPP datagrams are taken and do no harm; records go to
  // the debug facility.
  EXPECT_EQ(client::send_unbound(d.platform(), kSap, 7521, wire::encode_dpp_index(0)), 0);
  EXPECT_EQ(client::send_unbound(d.platform(), kSap, 7522, wire::encode_dpp_index(0)), 0);
  EXPECT_EQ(client::dpp_send(d.platform(), 0, 39, 0, 7, wire::encode_dpp_log(0, 5, {}, "m")), 0);
  EXPECT_EQ(client::dpp_send(d.platform(), 4, 39, 0, 88, wire::encode_port_debug_text(9, "p\n")),
            0);
  EXPECT_TRUE(client::wait_for(
      [&] {
        return client::dbgfac_log_lines(d.platform()) ==
               std::vector<std::string>{"[DPP1] mem: m", "p"};
      },
      kWait))
      << ::testing::PrintToString(client::dbgfac_log_lines(d.platform()));
  EXPECT_TRUE(show_report(d).starts_with(head));
  EXPECT_TRUE(d.running());
}

// A stat failure other than a missing directory does not stop the start: the
// manager runs, and only the files it later opens meet the problem.
TEST(DppLogStartupFailureTest, StatFailureDoesNotStopTheStart) {
  DaemonProcess d(DaemonOptions().failing("fs_stat"));
  ASSERT_TRUE(d.wait_ready());
  EXPECT_NE(d.stdout_text().find("DPPDEBUG_MGR_INFO: vesk bind successful\n"), std::string::npos);
  EXPECT_FALSE(path_exists(client::fs_path(d.platform(), "/cpp/plinder_dpp_logs")));
  EXPECT_TRUE(path_exists(client::vesk_reg_path(d.platform(), 3102, kSap)));
  EXPECT_TRUE(set_debug_answered(d, {.type = 4, .on = 1, .name = "dbg"}));
  for (int n = 1; n <= 4; ++n)
    EXPECT_NE(d.stdout_text().find("DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/dbg." +
                                   std::to_string(n) + " file\n"),
              std::string::npos)
        << n;
}

// dbgfac_init fails after the handle was registered: releasing the manager
// releases the daemon's own handle with it, so the daemon binds its SAP again
// (registered for 922 only) and goes on serving without a log manager.
TEST(DppLogStartupFailureTest, DebugFacilityFailureLeavesTheDaemonServing) {
  GatedDaemon g(DaemonOptions().failing("dbgfac_init"));
  client::FakeDppEndpoint dpp1(g.d().platform(), log_service(1));
  ASSERT_TRUE(g.open_gate());
  ASSERT_TRUE(g.d().wait_ready());
  std::string out = g.d().stdout_text();
  auto lines = manager_lines(out);
  std::vector<std::string> expected = flag_check_lines();
  expected.push_back("DPPDEBUG_MGR_INFO: vesk bind successful");
  expected.push_back("Bound to SAP: 930");  // bound again after the release
  expected.push_back(std::string(kReadyLine));
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(g.d().stderr_text(), "");
  EXPECT_TRUE(dpp1.drain().empty());
  EXPECT_TRUE(path_exists(client::vesk_reg_path(g.d().platform(), 922, kSap)));
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_FALSE(path_exists(client::vesk_reg_path(g.d().platform(), op, kSap))) << op;

  // Requests are still answered on the new handle: the show report (the
  // manager's state was never changed) and SET_DEBUG's empty reply.
  auto show = client::request(g.d().platform(), kSap, 5001, {}, std::chrono::seconds(5));
  ASSERT_TRUE(show);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(show->payload.data())),
            "\nDebug level: 6 (INFO)\n\nDPP instances: \n\n");
  wire::SetDebugRequest level;
  level.type = wire::kSetDebugLevel;
  level.level = 7;
  auto set = client::request(g.d().platform(), kSap, 5000, wire::encode_set_debug(level),
                             std::chrono::seconds(5));
  ASSERT_TRUE(set);
  EXPECT_TRUE(set->payload.empty());
  EXPECT_TRUE(dpp1.drain().empty());  // no DPP is sent anything without a manager
}

struct RegistrationFailure {
  std::uint32_t opcode;
  const char* message;
};

class DppLogRegistrationFailureTest : public ::testing::TestWithParam<RegistrationFailure> {};

TEST_P(DppLogRegistrationFailureTest, EndsTheProcessWithMinusOne) {
  const auto& p = GetParam();
  DaemonProcess d(DaemonOptions().failing("vesk_options_set:" + std::to_string(p.opcode)));
  auto e = d.wait_exit();
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->exited);
  EXPECT_EQ(e->code, 255);
  EXPECT_EQ(d.stderr_text(), std::string(p.message) + ": Input/output error\n");
  std::string out = d.stdout_text();
  EXPECT_NE(out.find("DPPDEBUG_MGR_INFO: flag 29 is OK\n"), std::string::npos);
  EXPECT_EQ(out.find("vesk bind successful"), std::string::npos);
  EXPECT_EQ(out.find(kReadyLine), std::string::npos);
  // The registrations made before the failing one were made, in order.
  for (std::uint32_t op : kManagerOpcodes) {
    if (op == p.opcode) break;
    EXPECT_TRUE(path_exists(client::vesk_reg_path(d.platform(), op, kSap))) << op;
  }
  EXPECT_FALSE(path_exists(client::vesk_reg_path(d.platform(), p.opcode, kSap)));
}

INSTANTIATE_TEST_SUITE_P(
    Opcodes, DppLogRegistrationFailureTest,
    ::testing::Values(RegistrationFailure{7522, "Unable to regiser DPP_DOWN"},
                      RegistrationFailure{7521, "Unable to regiser DPP_UP"},
                      RegistrationFailure{7572, "Unable to regiser DPP_DNLD_NEW_FEATURE_COMPLETE"},
                      RegistrationFailure{3102,
                                          "Unable to regiser VESK_OPC_CLOCK_SET_TIMEZONE_NOTIF"}));

}  // namespace
}  // namespace e2e
