// Start-up and release of the log manager.
#include "dpplog/manager.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "dpplog/control.h"
#include "dpplog/log_files.h"
#include "dpplog/show_report.h"
#include "dpplog/test_support.h"
#include "frame/frame.h"
#include "xipc/xipc.h"

namespace dpplog_test {
namespace {

using ::testing::ExitedWithCode;

class StartTest : public ManagerTest {};

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST_F(StartTest, CardTypeGivesTheNumberOfDpps) {
  for (int card : {41, 42, 43, 163, 40, 44, 162}) {
    const int expect = (card == 40 || card == 44 || card == 162) ? 4 : 1;
    ASSERT_EQ(start(card), 0) << card;
    EXPECT_EQ(num_dpps, expect) << card;
    EXPECT_EQ(plinder_dpps, (1u << expect) - 1) << card;
    for (int n = 0; n <= expect; ++n) {
      EXPECT_EQ(output_files[n], nullptr);
      EXPECT_EQ(filenames[n], nullptr);
      EXPECT_EQ(last_time[n], 0);
      EXPECT_EQ(last_lineno[n], 0);
    }
    TearDown();
    SetUp();
  }
}

TEST_F(StartTest, PrintsTheTableCheckThenRegistersAndGreetsEveryDpp) {
  setenv("DRAVIK_CARD_ID", "40", 1);
  const std::uint8_t bind_addr[24] = {};
  q = vesk_bind(2, 930, bind_addr, "RECV");
  ASSERT_GT(q, 0);
  sd = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
  fd_xipc = sd;
  int rx[5];
  for (int n = 1; n <= 4; ++n) rx[n] = dpp_flag_receiver(n);
  int rc = -2;
  const std::vector<std::string> out = lines_of(stdout_of([&] { rc = init_koru_dbg_mgr(q, sd); }));
  ASSERT_EQ(rc, 0);

  std::vector<std::string> expected = {
      "DPPDEBUG_MGR_INFO: flag 1 is OK",         "DPPDEBUG_MGR_INFO: flag 2 is OK",
      "DPPDEBUG_MGR_INFO: 1 is overridden by 3", "DPPDEBUG_MGR_INFO: flag 3 is OK",
      "DPPDEBUG_MGR_INFO: 2 is overridden by 4", "DPPDEBUG_MGR_INFO: flag 4 is OK"};
  for (int n = 5; n <= 29; ++n)
    expected.push_back("DPPDEBUG_MGR_INFO: flag " + std::to_string(n) + " is OK");
  expected.push_back("DPPDEBUG_MGR_INFO: vesk bind successful");
  expected.push_back("DPPDEBUG_MGR_DBG: Initializing xipc address");
  for (int n = 1; n <= 4; ++n)
    expected.push_back("DPPDEBUG_MGR_INFO: Sending flag 0x0 level 6 to DPP " + std::to_string(n));
  EXPECT_EQ(out, expected);

  EXPECT_EQ(debug_flag_entries[1].overridden_by, 3);
  EXPECT_EQ(debug_flag_entries[2].overridden_by, 4);
  for (int n = 3; n <= 29; ++n) EXPECT_EQ(debug_flag_entries[n].overridden_by, 0) << n;
  EXPECT_EQ(debug_q, q);
  EXPECT_EQ(dppmap, 0u);
  for (int n = 1; n <= 4; ++n) {
    Received r;
    ASSERT_TRUE(take(rx[n], &r)) << n;
    EXPECT_EQ(wire::decode_dpp_flag(r.payload).flags, 0u);
  }
  for (int op : {7522, 7521, 7571, 7572, 7573, 3102}) {
    EXPECT_TRUE(std::filesystem::exists(path("vesk/reg/" + std::to_string(op) + "/930"))) << op;
    EXPECT_EQ(vesk_options_get(q, op) & 0x10, 0x10) << op;
  }
  for (int op : {5000, 5001})
    EXPECT_FALSE(std::filesystem::exists(path("vesk/reg/" + std::to_string(op) + "/930"))) << op;
}

TEST_F(StartTest, InconsistentTableStopsWithStatus1) {
  const std::string log = path("out.txt");
  EXPECT_EXIT(
      {
        freopen(log.c_str(), "w", stdout);
        debug_flag_entries[7].id = 8;
        init_koru_dbg_mgr(q, sd);
      },
      ExitedWithCode(1), "");
  const std::vector<std::string> out = lines_of(read_file(log));
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.back(), "DPPDEBUG_MGR_ERR: You have inconsistent flag entry (7 vs 8)!");
  EXPECT_EQ(out[out.size() - 2], "DPPDEBUG_MGR_INFO: flag 6 is OK");
}

TEST_F(StartTest, MissingLogDirIsCreatedWithEveryPermissionBitLessUmask) {
  const mode_t old = umask(022);
  ASSERT_EQ(start(), 0);
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat(card_path("/cpp/plinder_dpp_logs").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 01777, 01755u);
}

TEST_F(StartTest, ExistingLogDirIsLeftAlone) {
  std::filesystem::create_directories(card_path("/cpp/plinder_dpp_logs"));
  chmod(card_path("/cpp/plinder_dpp_logs").c_str(), 0700);
  ASSERT_EQ(start(), 0);
  struct stat st {};
  ASSERT_EQ(stat(card_path("/cpp/plinder_dpp_logs").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(StartTest, StatFailureOtherThanMissingDoesNotStopTheStart) {
  fail("fs_stat");
  EXPECT_EQ(start(), 0);
  EXPECT_FALSE(std::filesystem::exists(card_path("/cpp/plinder_dpp_logs")));
}

TEST_F(StartTest, LogDirThatCannotBeMadeFailsTheStart) {
  fail("fs_mkdir");
  setenv("DRAVIK_CARD_ID", "40", 1);
  q = vesk_bind(2, 930, nullptr, "RECV");
  int rc = 0;
  std::string out = stdout_of([&] { rc = init_koru_dbg_mgr(q, 5); });
  EXPECT_EQ(rc, -1);
  EXPECT_NE(out.find("DPPDEBUG_MGR_INFO: Unable to Create DPP Debug log dir\n"), std::string::npos);
  EXPECT_EQ(debug_q, 0);  // the handle was never taken
}

TEST_F(StartTest, NegativeXipcDescriptorFailsTheStart) {
  setenv("DRAVIK_CARD_ID", "40", 1);
  int rc = 0;
  stdout_of([&] { rc = init_koru_dbg_mgr(7, -1); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(fd_xipc, -1);
}

TEST_F(StartTest, HandleMinusOneEndsTheProcess) {
  EXPECT_EXIT(
      {
        freopen("/dev/null", "w", stdout);
        init_koru_dbg_mgr(-1, 3);
      },
      ExitedWithCode(255), "vesk bind error");
}

TEST_F(StartTest, RegistrationFailureEndsTheProcess) {
  fail("vesk_options_set:7571");
  const std::uint8_t bind_addr[24] = {};
  q = vesk_bind(2, 930, bind_addr, "RECV");
  EXPECT_EXIT(
      {
        freopen("/dev/null", "w", stdout);
        init_koru_dbg_mgr(q, 3);
      },
      ExitedWithCode(255), "Unable to regiser DPP_DNLD_NEW_FEATURE_RQST");
}

class ReleaseTest : public ManagerTest {};

TEST_F(ReleaseTest, DebugFacilityFailureReleasesTheDaemonsOwnHandle) {
  fail("dbgfac_init");
  EXPECT_EQ(start(), -1);
  const int handle = q;
  EXPECT_EQ(stdout_of([] { EXPECT_EQ(cleanup_koru(), 0); }), "");
  // main's select on q then fails with EBADF and the daemon shuts down.
  EXPECT_EQ(fcntl(handle, F_GETFD), -1);
  EXPECT_FALSE(std::filesystem::exists(path("vesk/930")));
  EXPECT_EQ(num_dpps, 0);
  EXPECT_EQ(output_files, nullptr);
  q = 0;
}

TEST_F(ReleaseTest, ReleaseClosesOpenLogFiles) {
  ASSERT_EQ(start(41), 0);
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  fprintf_klaxo(1, "pending");
  cleanup_koru();
  q = 0;
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")),
            "#### Tue Nov 14 22:13:20 2023\npending\n");
  EXPECT_STREQ(output_filename, "dbg");  // left as it is
}

// A start that failed before it took the handle: the daemon's q goes on, and
// the manager's requests are still answered on it without any table.
TEST_F(ReleaseTest, ReleasedManagerAnswersOnTheDaemonsHandle) {
  fail("fs_mkdir");
  EXPECT_EQ(start(40), -1);
  EXPECT_EQ(cleanup_koru(), -1);  // debug_q was 0: nothing to unbind
  EXPECT_EQ(debug_q, q);

  for (const Bytes& p : {set_output(true, "dbg"), set_categories(true, true, 0, "/dev/pts/1"),
                         set_dpp_map(true, true, 0), set_level(3)}) {
    handle(kOpcodeSetDebug, p);
    wire::VeskReplyFrame r;
    EXPECT_TRUE(reply(&r));
  }
  EXPECT_EQ(output_filename, nullptr);
  EXPECT_EQ(dppmap, 0u);  // no DPP left to map
  handle(kOpcodeDppUp, dpp_index(0));
  handle(kOpcodeShowDebug, {});
  wire::VeskReplyFrame r;
  ASSERT_TRUE(reply(&r));
  const std::string report(r.payload.begin(), r.payload.end());
  EXPECT_EQ(report.rfind("\nDebug level: 3 (ERR)\n\nDPP instances: \n\nrx ipc message is on\n", 0),
            0u)
      << report;
  EXPECT_EQ(report.back(), '\0');
}

TEST_F(ReleaseTest, GetCurrentFlagsFollowsTheCategories) {
  ASSERT_EQ(start(40), 0);
  handle(kOpcodeSetDebug, set_categories(true, false, 4, "/dev/pts/1"));
  EXPECT_EQ(get_current_flags(), 0xAu);
}

}  // namespace
}  // namespace dpplog_test
