// SET_DEBUG, the DPP notifications and the time zone, through
// process_vesk_message with requests received from a real VESK peer.
#include "dpplog/control.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "dpplog/broadcast.h"
#include "dpplog/manager.h"
#include "dpplog/test_support.h"
#include "wire/dpp_notify.h"

namespace dpplog_test {
namespace {

class ControlTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    ASSERT_EQ(start(40), 0);
    for (int n = 1; n <= 4; ++n) rx_[n] = dpp_flag_receiver(n);
  }
  // The flags each DPP received since the last call (-1: nothing).
  std::array<long long, 5> sent() {
    std::array<long long, 5> out{-1, -1, -1, -1, -1};
    for (int n = 1; n <= 4; ++n) {
      Received r;
      if (take(rx_[n], &r)) out[n] = wire::decode_dpp_flag(r.payload).flags;
      Received extra;
      EXPECT_FALSE(take(rx_[n], &extra)) << "DPP " << n << " got two";
    }
    return out;
  }
  // A SET_DEBUG request that must be answered with the empty reply.
  std::string set_debug(const Bytes& payload) {
    std::string out = handle(kOpcodeSetDebug, payload);
    wire::VeskReplyFrame r;
    EXPECT_TRUE(reply(&r));
    EXPECT_EQ(r.header, wire::kReplyHeaderBytes);
    EXPECT_EQ(r.opcode, kOpcodeSetDebug);
    EXPECT_EQ(r.tag, 77u);
    EXPECT_TRUE(r.payload.empty());
    return out;
  }
  std::string vtys() const { return read_file(path("dbgfac/dpp_debug.vtys")); }
  int rx_[5] = {};
  static constexpr long long kNone = -1;
};

TEST_F(ControlTest, AllCategoriesOnClearsFiltersAddsVtyAndSendsToTheMap) {
  cur_filters[4][1] = 7;
  set_debug(set_dpp_map(true, false, 0x5, "/dev/pts/7"));
  sent();
  std::string out = set_debug(set_categories(true, true, 0, "/dev/pts/7"));
  EXPECT_EQ(cur_flag, 0x1FFFFFFFu);
  EXPECT_EQ(cur_filters[4][1], 0u);
  EXPECT_NE(out.find("DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/pts/7\n"),
            std::string::npos);
  EXPECT_NE(out.find("\n setting flags cur_flag:536870911 dppmap:5"), std::string::npos);
  EXPECT_EQ(vtys(), "/dev/pts/7\n");
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, 0x1FFFFFFF, kNone, 0x1FFFFFFF, kNone}));
}

TEST_F(ControlTest, AllCategoriesOffKeepsFiltersRemovesVtyAndSendsZero) {
  set_debug(set_dpp_map(true, false, 0x1, "/dev/pts/7"));
  set_debug(set_categories(true, false, 7, "/dev/pts/7", {9, 0, 0, 0}));
  sent();
  std::string out = set_debug(set_categories(false, true, 0, "/dev/pts/7"));
  EXPECT_EQ(cur_flag, 0u);
  EXPECT_EQ(cur_filters[6][0], 9u);
  EXPECT_NE(out.find("DPPDEBUG_MGR_INFO: Notifying syslogd to remove vty /dev/pts/7\n"),
            std::string::npos);
  EXPECT_EQ(vtys(), "");
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, 0, kNone, kNone, kNone}));
}

TEST_F(ControlTest, CategoryWithOverrideSetsBothBitsAndBlocks) {
  std::string out = set_debug(set_categories(true, false, 3, "/dev/pts/1", {1, 0, 0, 0x10}));
  EXPECT_EQ(cur_flag, 0x5u);
  for (int block : {0, 2}) {
    EXPECT_EQ(cur_filters[block][0], 1u);
    EXPECT_EQ(cur_filters[block][3], 0x10u);
  }
  EXPECT_NE(out.find("DPPDEBUG_MGR_INFO: Overriding flag 1 filters by 3\n"), std::string::npos);
}

TEST_F(ControlTest, SingleCategoryOffClearsOverriddenToButNotifiesNoVty) {
  set_debug(set_categories(true, false, 3, "/dev/pts/1", {5, 0, 0, 0}));
  std::string out = set_debug(set_categories(false, false, 3, "/dev/pts/1"));
  EXPECT_EQ(cur_flag, 0u);
  EXPECT_EQ(cur_filters[2][0], 5u);  // turning off leaves the filters
  EXPECT_NE(out.find("DPPDEBUG_MGR_INFO: Turning off flag 1 (overridden by 3\n"),
            std::string::npos);
  EXPECT_EQ(out.find("Notifying"), std::string::npos);
  EXPECT_EQ(vtys(), "/dev/pts/1\n");
}

TEST_F(ControlTest, TurningOffTheOverriddenCategoryLeavesTheOverridingOne) {
  set_debug(set_categories(true, false, 3, "/dev/pts/1"));
  set_debug(set_categories(false, false, 1, "/dev/pts/1"));
  EXPECT_EQ(cur_flag, 0x4u);
}

TEST_F(ControlTest, CategoryOutsideTheTableTouchesNothingButIsAnswered) {
  set_debug(set_dpp_map(true, true, 0, "/dev/pts/1"));
  set_debug(set_categories(true, false, 2, "/dev/pts/1", {3, 3, 3, 3}));
  sent();
  for (std::uint8_t bad : {0, 30, 255}) {
    std::string out = set_debug(set_categories(true, false, bad, "/dev/pts/9", {8, 8, 8, 8}));
    EXPECT_EQ(out,
              "DPPDEBUG_MGR_ERR: Invalid flag " + std::to_string(bad) + " in SET_DEBUG, ignored\n");
  }
  EXPECT_EQ(cur_flag, 0x2u);
  for (auto& block : cur_filters)
    for (std::uint32_t w : block) EXPECT_TRUE(w == 0 || w == 3);
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, kNone, kNone, kNone}));
  EXPECT_EQ(vtys(), "/dev/pts/1\n");
}

TEST_F(ControlTest, MapAllOnSendsToTheAddedDppsOnly) {
  set_debug(set_categories(true, false, 5, "/dev/pts/1"));
  set_debug(set_dpp_map(true, false, 0x1));
  sent();
  std::string out = set_debug(set_dpp_map(true, true, 0, "/dev/pts/2"));
  EXPECT_EQ(dppmap, 0xFu);
  EXPECT_EQ(out,
            "DPPDEBUG_MGR_INFO: new dppmap: F\n"
            "DPPDEBUG_MGR_DBG: Turning on DPP map E\n"
            "DPPDEBUG_MGR_INFO: Sending flag 0x10 level 6 to DPP 2\n"
            "DPPDEBUG_MGR_INFO: Sending flag 0x10 level 6 to DPP 3\n"
            "DPPDEBUG_MGR_INFO: Sending flag 0x10 level 6 to DPP 4\n"
            "DPPDEBUG_MGR_DBG: Turning off DPP map 0\n"
            "dppmap is set:15"
            "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/pts/2\n");
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, 0x10, 0x10, 0x10}));
}

TEST_F(ControlTest, MapRemovalSendsZeroFlagsToTheRemovedDpps) {
  set_debug(set_categories(true, false, 5, "/dev/pts/1"));
  set_debug(set_dpp_map(true, false, 0x7));
  sent();
  set_debug(set_dpp_map(false, false, 0x6));
  EXPECT_EQ(dppmap, 0x1u);
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, 0, 0, kNone}));
}

TEST_F(ControlTest, MapWithoutCategoriesSendsNothing) {
  set_debug(set_dpp_map(true, true, 0));
  EXPECT_EQ(dppmap, 0xFu);
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, kNone, kNone, kNone}));
}

TEST_F(ControlTest, MapBitsBeyondTheCardAreIgnored) {
  set_debug(set_dpp_map(true, false, 0xF0));
  EXPECT_EQ(dppmap, 0u);
}

TEST_F(ControlTest, LevelIsStoredAndSentToTheMap) {
  set_debug(set_dpp_map(true, false, 0x2));
  std::string out = set_debug(set_level(7));
  EXPECT_EQ(debug_level, 7);
  EXPECT_EQ(out.rfind("DPPDEBUG_MGR_INFO: Debug level changed to 7\n", 0), 0u);
  Received r;
  ASSERT_TRUE(take(rx_[2], &r));
  EXPECT_EQ(wire::decode_dpp_flag(r.payload).level, 7);
}

TEST_F(ControlTest, UnknownTypeIsReportedAndAnswered) {
  Bytes p = set_level(0);
  p[0] = 9;
  EXPECT_EQ(set_debug(p), "DPPDEBUG_MGR_ERR: Unknown SET_DEBUG type 9\n\n");
}

TEST_F(ControlTest, OutputFileRequestOpensTheSet) {
  set_debug(set_output(true, "dbg"));
  EXPECT_STREQ(output_filename, "dbg");
  EXPECT_STREQ(filenames[4], "dbg.4");
}

TEST_F(ControlTest, NameWithoutEndIsRefusedStillAnswered) {
  // Only a message service that does not zero its payload buffer can deliver
  // this: the name runs to the very end of the buffer.
  auto msg = std::make_unique<vesk_msg_t>();
  std::memset(msg.get(), 0, sizeof *msg);
  msg->opcode = kOpcodeSetDebug;
  std::memset(msg->payload, 'n', sizeof msg->payload);
  msg->payload[0] = 4;
  msg->payload[1] = 1;
  std::string out = stdout_of([&] { process_vesk_message(msg.get()); });
  EXPECT_EQ(out, "DPPDEBUG_MGR_ERR: SET_DEBUG name without an end, type 4 ignored\n");
  EXPECT_EQ(output_filename, nullptr);
}

TEST_F(ControlTest, RejectionIsNeitherHandledNorAnswered) {
  std::string out = handle(kOpcodeSetDebug, set_level(2), wire::vesk_frame::kFlagReject);
  EXPECT_EQ(out, "");
  EXPECT_EQ(debug_level, 6);
  EXPECT_FALSE(reply_waiting());
}

TEST_F(ControlTest, UnknownOpcodeIsReportedByName) {
  EXPECT_EQ(handle(1234, {}), "DPPDEBUG_MGR_ERR: unknown message OPC_1234\n");
  EXPECT_FALSE(reply_waiting());
}

TEST_F(ControlTest, TimeZoneGoesToTheEnvironmentWithoutReply) {
  handle(kOpcodeTimezone, Bytes{'E', 'S', 'T', '5', 0});
  EXPECT_STREQ(getenv("TZ"), "EST5");
  handle(kOpcodeTimezone, Bytes{'C', 'E', 'T', 0});
  EXPECT_STREQ(getenv("TZ"), "CET");
  EXPECT_FALSE(reply_waiting());
}

TEST_F(ControlTest, DppUpSendsFlagsOnceToAPlinderDppInTheMap) {
  set_debug(set_categories(true, false, 6, "/dev/pts/1"));
  set_debug(set_dpp_map(true, false, 0x2));
  sent();
  handle(kOpcodeDppUp, dpp_index(1));
  EXPECT_EQ(active_dpps, 0x2u);
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, 0x20, kNone, kNone}));
  handle(kOpcodeDppUp, dpp_index(1));  // already up
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, kNone, kNone, kNone}));
  handle(kOpcodeDppDown, dpp_index(1));
  EXPECT_EQ(active_dpps, 0u);
  handle(kOpcodeDppUp, dpp_index(1));
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, 0x20, kNone, kNone}));
  handle(kOpcodeDppUp, dpp_index(2));  // not in the map: up, nothing sent
  EXPECT_EQ(active_dpps, 0x6u);
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, kNone, kNone, kNone}));
  EXPECT_FALSE(reply_waiting());
}

TEST_F(ControlTest, IndexesOutsideTheSetsChangeNothing) {
  handle(kOpcodeDppUp, dpp_index(32));
  handle(kOpcodeDppUp, dpp_index(0xFFFFFFFFu));
  handle(kOpcodeDppDown, dpp_index(40));
  EXPECT_EQ(active_dpps, 0u);
  EXPECT_EQ(plinder_dpps, 0xFu);
}

TEST_F(ControlTest, PlinderOffDownloadTakesDppsOutUntilAnotherFeatureCompletes) {
  set_debug(set_categories(true, false, 6, "/dev/pts/1"));
  set_debug(set_dpp_map(true, true, 0));
  sent();
  handle(kOpcodeDppUp, dpp_index(0));
  handle(kOpcodeDppUp, dpp_index(1));
  sent();
  wire::DnldFeatureRqst rq;
  rq.feature = wire::kFeaturePlinderOff;
  rq.count = 2;
  rq.dpps[0] = 0;
  rq.dpps[1] = 1;
  handle(kOpcodeFeatureRqst, wire::encode_feature_rqst(rq));
  EXPECT_EQ(plinder_dpps, 0xCu);
  EXPECT_EQ(active_dpps, 0u);

  wire::DnldFeatureComplete done;
  done.feature = wire::kFeaturePlinderOff;
  done.count = 1;
  done.entries[0] = {1, 2};
  handle(kOpcodeFeatureComplete, wire::encode_feature_complete(done));
  handle(kOpcodeDppUp, dpp_index(0));
  EXPECT_EQ(plinder_dpps, 0xCu);
  EXPECT_EQ(active_dpps, 0u);
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, kNone, kNone, kNone}));

  done.feature = 7;
  done.count = 2;
  done.entries[1] = {0, 1};  // back to plinder, still down
  handle(kOpcodeFeatureComplete, wire::encode_feature_complete(done));
  EXPECT_EQ(plinder_dpps, 0xFu);
  EXPECT_EQ(active_dpps, 0x2u);
  EXPECT_EQ(sent(), (std::array<long long, 5>{kNone, kNone, 0x20, kNone, kNone}));
  handle(kOpcodeFeatureFailed, {});
  EXPECT_EQ(plinder_dpps, 0xFu);
  EXPECT_EQ(active_dpps, 0x2u);
}

TEST_F(ControlTest, OtherFeatureRequestOnlyTakesDppsDown) {
  handle(kOpcodeDppUp, dpp_index(3));
  wire::DnldFeatureRqst rq;
  rq.feature = 5;
  rq.count = 1;
  rq.dpps[0] = 3;
  handle(kOpcodeFeatureRqst, wire::encode_feature_rqst(rq));
  EXPECT_EQ(plinder_dpps, 0xFu);
  EXPECT_EQ(active_dpps, 0u);
}

}  // namespace
}  // namespace dpplog_test
