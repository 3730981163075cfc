// Start and release of the log manager: what an end-to-end run of the daemon
// cannot reach (other card types, a broken category table, bad arguments, a
// release with files open, a request name without an end).
#include "dpplog/manager.h"

#include <cstring>
#include <memory>
#include <string>

#include "dpplog/control.h"
#include "dpplog/intake.h"
#include "dpplog/log_files.h"
#include "dpplog/test_support.h"
#include "frame/frame.h"
#include "platform/vesk.h"
#include "wire/dpp_log_msg.h"

namespace dpplog_test {
namespace {

using ::testing::ExitedWithCode;

using StartTest = ManagerTest;

TEST_F(StartTest, CardTypeGivesTheNumberOfDpps) {
  for (int card : {41, 42, 43, 163, 40, 44, 162}) {
    const int expect = (card == 40 || card == 44 || card == 162) ? 4 : 1;
    ASSERT_EQ(start(card), 0) << card;
    EXPECT_EQ(num_dpps, expect) << card;
    EXPECT_EQ(plinder_dpps, (1u << expect) - 1) << card;
    TearDown();
    SetUp();
  }
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
  const std::string out = read_file(log);
  EXPECT_TRUE(out.ends_with("DPPDEBUG_MGR_INFO: flag 6 is OK\n"
                            "DPPDEBUG_MGR_ERR: You have inconsistent flag entry (7 vs 8)!\n"))
      << out;
}

TEST_F(StartTest, BadHandleOrDescriptor) {
  setenv("DRAVIK_CARD_ID", "40", 1);
  EXPECT_EXIT(
      {
        freopen("/dev/null", "w", stdout);
        init_koru_dbg_mgr(-1, 3);
      },
      ExitedWithCode(255), "vesk bind error");
  int rc = 0;
  stdout_of([&] { rc = init_koru_dbg_mgr(7, -1); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(fd_xipc, -1);
}

// cleanup_koru only follows a failed start, where no file can be open yet;
// if one is, it is closed with its buffer written out, and records then go
// to the debug facility.
TEST_F(StartTest, ReleaseClosesOpenFilesAndSendsRecordsToTheFacility) {
  ASSERT_EQ(start(41), 0);
  stdout_of([] { set_output_file(output_request(true, "dbg")); });
  fprintf_klaxo(1, "pending");
  cleanup_koru();
  q = 0;
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")),
            "#### Tue Nov 14 22:13:20 2023\npending\n");
  EXPECT_STREQ(output_filename, "dbg");  // left as it is
  send_to_daemon(0, 7, wire::encode_dpp_log(0, 0x80, {}, "released"));
  EXPECT_EQ(processKORUXIPCmsg(sd), 0);
  EXPECT_EQ(klaxo_log(), "[DPP1] released\n");
}

// Only a message service that does not zero its payload buffer can deliver
// a name running to the very end of the buffer: the request is refused.
TEST_F(StartTest, RequestNameWithoutEndIsRefused) {
  ASSERT_EQ(start(40), 0);
  auto msg = std::make_unique<vesk_msg_t>();
  std::memset(msg.get(), 0, sizeof *msg);
  msg->opcode = kOpcodeSetDebug;
  std::memset(msg->payload, 'n', sizeof msg->payload);
  msg->payload[0] = 4;
  msg->payload[1] = 1;
  EXPECT_EQ(stdout_of([&] { process_vesk_message(msg.get()); }),
            "DPPDEBUG_MGR_ERR: SET_DEBUG name without an end, type 4 ignored\n");
  EXPECT_EQ(output_filename, nullptr);
}

}  // namespace
}  // namespace dpplog_test
