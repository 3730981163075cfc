// The DPP debug log manager's start seen from outside: its start-up lines, the
// first flag broadcast to every DPP of the card, its opcode registrations, the
// log directory, and the start-up failures driven through DRAVIK_FAIL.
//
// The first broadcast goes out before the daemon's loop starts, so the fake
// DPP endpoints must exist before the daemon runs: a gated start runs the
// daemon through a small wrapper that waits on a FIFO in the platform
// directory until the test has bound its endpoints.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/dpplog_e2e_support.h"

namespace e2e {
namespace {

using client::path_exists;

constexpr std::uint32_t kManagerOpcodes[] = {7522, 7521, 7571, 7572, 7573, 3102};

// The manager's lines: everything after the XIPC socket's line.
std::vector<std::string> manager_lines(const std::string& out) {
  std::size_t at = out.find("Created socket : ");
  at = at == std::string::npos ? out.size() : out.find('\n', at);
  std::vector<std::string> lines;
  while (at != std::string::npos && at + 1 < out.size()) {
    const std::size_t nl = out.find('\n', at + 1);
    lines.push_back(out.substr(at + 1, nl == std::string::npos ? nl : nl - at - 1));
    at = nl;
  }
  return lines;
}

// The category table's check: rows 1 to 29 OK, with rows 3 and 4 announcing
// the categories they override before their own OK line; then `tail`.
std::vector<std::string> start_lines(std::vector<std::string> tail) {
  std::vector<std::string> out;
  for (int n = 1; n <= 29; ++n) {
    if (n == 3 || n == 4)
      out.push_back("DPPDEBUG_MGR_INFO: " + std::to_string(n - 2) + " is overridden by " +
                    std::to_string(n));
    out.push_back("DPPDEBUG_MGR_INFO: flag " + std::to_string(n) + " is OK");
  }
  out.insert(out.end(), tail.begin(), tail.end());
  out.emplace_back(kReadyLine);
  return out;
}

std::string sending_line(int dpp) {
  return "DPPDEBUG_MGR_INFO: Sending flag 0x0 level 6 to DPP " + std::to_string(dpp);
}

// A daemon that waits, before it runs at all, until the test opens its gate:
// the wrapper (run in the platform directory) makes the FIFO "gate", blocks
// reading it, then becomes the real daemon.
struct GatedDaemon {
  client::TempDir scripts{"dvkg-"};
  std::unique_ptr<DaemonProcess> daemon;

  explicit GatedDaemon(DaemonOptions o) {
    const std::string wrapper = scripts.path + "/gated-dravik";
    std::ofstream(wrapper) << "#!/bin/sh\nmkfifo gate || exit 127\nread -r go < gate\n"
                              "rm -f gate\nexec \"$DPPLOG_E2E_DAEMON\" \"$@\"\n";
    ::chmod(wrapper.c_str(), 0700);
    const std::string real = daemon_binary();
    o.env("DPPLOG_E2E_DAEMON", real);
    ::setenv("DRAVIK_BINARY", wrapper.c_str(), 1);
    daemon = std::make_unique<DaemonProcess>(std::move(o));
    ::setenv("DRAVIK_BINARY", real.c_str(), 1);
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
    const bool ok = ::write(fd, "go\n", 3) == 3;
    ::close(fd);
    return ok;
  }
};

// --- start-up lines and the first broadcast -----------------------------------

// Every DPP of a four-DPP card is sent the empty flags once; DPP 3 has no
// endpoint: its send fails, is reported on standard error, and the broadcast
// goes on with DPP 4.
TEST(DppLogStartupTest, FourDppCardPrintsItsLinesRegistersAndTellsEveryDppOnce) {
  GatedDaemon g(DaemonOptions{});
  std::vector<std::unique_ptr<client::FakeDppEndpoint>> dpps;
  for (int n : {1, 2, 4})
    dpps.push_back(std::make_unique<client::FakeDppEndpoint>(g.d().platform(), log_service(n)));
  ASSERT_TRUE(g.open_gate());
  ASSERT_TRUE(g.d().wait_ready());
  EXPECT_EQ(manager_lines(g.d().stdout_text()),
            start_lines({"DPPDEBUG_MGR_INFO: vesk bind successful",
                         "DPPDEBUG_MGR_DBG: Initializing xipc address", sending_line(1),
                         sending_line(2), sending_line(4)}));
  EXPECT_EQ(g.d().stderr_text(), "send xipc message: No such file or directory\n");
  for (auto& e : dpps) EXPECT_TRUE(got_flags(*e, 0, 6));
  // The six notification opcodes are registered, the two requests are not.
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_TRUE(path_exists(client::vesk_reg_path(g.d().platform(), op, kSap))) << op;
  for (std::uint32_t op : {5000, 5001})
    EXPECT_FALSE(path_exists(client::vesk_reg_path(g.d().platform(), op, kSap))) << op;
}

// One-DPP cards, the one the system manager starts (without arguments, its
// standard output buffered) among them, tell DPP 1 only.
TEST(DppLogStartupTest, OneDppCardsTellOnlyDppOne) {
  for (bool system_card : {false, true}) {
    GatedDaemon g(system_card ? DaemonOptions().card("163").no_args()
                              : DaemonOptions().card("41"));
    client::FakeDppEndpoint dpp1(g.d().platform(), log_service(1));
    client::FakeDppEndpoint dpp2(g.d().platform(), log_service(2));
    ASSERT_TRUE(g.open_gate());
    ASSERT_TRUE(system_card ? g.d().wait_handshake() : g.d().wait_ready());
    EXPECT_TRUE(got_flags(dpp1, 0, 6)) << system_card;
    ASSERT_TRUE(client::request(g.d().platform(), kSap, 5001, {}, kWait));
    EXPECT_TRUE(dpp2.drain().empty()) << system_card;
  }
}

TEST(DppLogStartupTest, CreatesTheLogDirectoryOrLeavesAnExistingOneAlone) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  {
    DaemonProcess d;
    ASSERT_TRUE(d.wait_ready());
    struct stat st{};
    ASSERT_EQ(::stat(client::fs_path(d.platform(), "/cpp/plinder_dpp_logs").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // Every permission bit and the sticky bit, less the umask (Linux
    // decides the set-id bits of a new directory by itself).
    EXPECT_EQ(st.st_mode & 01777, 01777 & ~mask);
  }
  client::TempDir root("dvkr-");
  const std::string dir = root.path + "/cpp/plinder_dpp_logs";
  ASSERT_EQ(client::make_dirs(dir), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
  std::ofstream(dir + "/kept") << "old log\n";
  DaemonProcess d(DaemonOptions().root(root.path));
  ASSERT_TRUE(d.wait_ready());
  struct stat st{};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(client::read_file(dir + "/kept"), "old log\n");
}

// --- start-up failures ----------------------------------------------------------

TEST(DppLogStartupFailureTest, LogDirectoryNotCreatableLeavesTheDaemonServing) {
  DaemonProcess d(DaemonOptions().failing("fs_mkdir"));
  ASSERT_TRUE(d.wait_ready());
  EXPECT_EQ(manager_lines(d.stdout_text()),
            start_lines({"DPPDEBUG_MGR_INFO: Unable to Create DPP Debug log dir"}));
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_FALSE(path_exists(client::vesk_reg_path(d.platform(), op, kSap))) << op;

  // Without a manager every request is still answered, and nothing reaches
  // a DPP or a log file; no DPP can join the map of a manager without DPPs.
  client::FakeDppEndpoint dpp1(d.platform(), log_service(1));
  for (const wire::SetDebugRequest& r :
       {wire::SetDebugRequest{.type = 1, .on = 1, .all = 1, .name = "/dev/null"},
        {.type = 2, .on = 1, .all = 1, .name = "/dev/null"},
        {.type = 3, .level = 7, .name = ""},
        {.type = 4, .on = 1, .name = "dbg"}})
    EXPECT_TRUE(answered(d, r)) << int(r.type);
  EXPECT_FALSE(path_exists(client::fs_path(d.platform(), "/cpp/plinder_dpp_logs/dbg.1")));
  EXPECT_EQ(d.stdout_text().find("Sending flag"), std::string::npos);
  const std::string head = "\nDebug level: 7 (DEBUG)\n\nDPP instances: \n\n";
  EXPECT_TRUE(show_report(d).starts_with(head + "rx ipc message is on\n"));

  // A DPP coming up is taken and does no harm. (Records after the release
  // are checked on the manager itself.)
  EXPECT_EQ(client::send_unbound(d.platform(), kSap, 7521, wire::encode_dpp_index(0)), 0);
  EXPECT_TRUE(show_report(d).starts_with(head));
  EXPECT_TRUE(dpp1.drain().empty());
  EXPECT_TRUE(d.running());
}

// A stat failure other than a missing directory does not stop the start: the
// manager runs, and only the files it later opens meet the problem.
TEST(DppLogStartupFailureTest, StatFailureDoesNotStopTheStart) {
  DaemonProcess d(DaemonOptions().failing("fs_stat"));
  ASSERT_TRUE(d.wait_ready());
  EXPECT_NE(d.stdout_text().find("DPPDEBUG_MGR_INFO: vesk bind successful\n"), std::string::npos);
  EXPECT_FALSE(path_exists(client::fs_path(d.platform(), "/cpp/plinder_dpp_logs")));
  EXPECT_TRUE(answered(d, {.type = 4, .on = 1, .name = "dbg"}));
  EXPECT_TRUE(d.wait_stdout_contains("Unable to Create /cpp/plinder_dpp_logs/dbg.4 file\n"));
}

// dbgfac_init fails after the handle was registered: releasing the manager
// releases the daemon's own handle with it, so the daemon binds its SAP again
// (registered for 922 only) and goes on serving without a log manager.
TEST(DppLogStartupFailureTest, DebugFacilityFailureLeavesTheDaemonServing) {
  GatedDaemon g(DaemonOptions().failing("dbgfac_init"));
  client::FakeDppEndpoint dpp1(g.d().platform(), log_service(1));
  ASSERT_TRUE(g.open_gate());
  ASSERT_TRUE(g.d().wait_ready());
  EXPECT_EQ(manager_lines(g.d().stdout_text()),
            start_lines({"DPPDEBUG_MGR_INFO: vesk bind successful",
                         "Bound to SAP: 930"}));  // bound again after the release
  EXPECT_EQ(g.d().stderr_text(), "");
  EXPECT_TRUE(path_exists(client::vesk_reg_path(g.d().platform(), 922, kSap)));
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_FALSE(path_exists(client::vesk_reg_path(g.d().platform(), op, kSap))) << op;

  // Requests are still answered on the new handle: the show report (the
  // manager's state was never changed) and SET_DEBUG's empty reply.
  EXPECT_EQ(show_report(g.d()), std::string(kHead) + "\n\n");
  EXPECT_TRUE(answered(g.d(), {.type = 3, .level = 7, .name = ""}));
  EXPECT_TRUE(dpp1.drain().empty());  // no DPP is sent anything without a manager
}

struct RegistrationFailure {
  std::uint32_t opcode;
  const char* message;
};

// Names the case by its opcode in test lists.
void PrintTo(const RegistrationFailure& f, std::ostream* os) { *os << f.opcode; }

class DppLogRegistrationFailureTest : public ::testing::TestWithParam<RegistrationFailure> {};

TEST_P(DppLogRegistrationFailureTest, EndsTheProcessWithMinusOne) {
  const auto& p = GetParam();
  DaemonProcess d(DaemonOptions().failing("vesk_options_set:" + std::to_string(p.opcode)));
  auto e = d.wait_exit();
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->exited);
  EXPECT_EQ(e->code, 255);
  EXPECT_EQ(d.stderr_text(), std::string(p.message) + ": Input/output error\n");
  const std::string out = d.stdout_text();
  EXPECT_TRUE(out.ends_with("DPPDEBUG_MGR_INFO: flag 29 is OK\n")) << out;
  // The registrations before the failing one were made, in order.
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
                      RegistrationFailure{7571, "Unable to regiser DPP_DNLD_NEW_FEATURE_RQST"},
                      RegistrationFailure{7572, "Unable to regiser DPP_DNLD_NEW_FEATURE_COMPLETE"},
                      RegistrationFailure{7573, "Unable to regiser DPP_DNLD_NEW_FEATURE_FAILED"},
                      RegistrationFailure{3102,
                                          "Unable to regiser VESK_OPC_CLOCK_SET_TIMEZONE_NOTIF"}));

}  // namespace
}  // namespace e2e
