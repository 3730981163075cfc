// The DppFlagMsg broadcast, received by real XIPC endpoints of the DPPs.
#include "dpplog/broadcast.h"

#include <unistd.h>

#include <algorithm>
#include <string>

#include "dpplog/manager.h"
#include "dpplog/test_support.h"
#include "frame/frame.h"
#include "wire/dpp_flag_msg.h"
#include "xipc/xipc.h"

namespace dpplog_test {
namespace {

class BroadcastTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    ASSERT_EQ(start(40), 0);
    for (int n = 1; n <= 4; ++n) rx_[n] = dpp_flag_receiver(n);
  }
  // The one DppFlagMsg DPP n received, checking its envelope.
  wire::DppFlagMsg got(int n) {
    Received r;
    EXPECT_TRUE(take(rx_[n], &r)) << "DPP " << n << " got nothing";
    EXPECT_EQ(r.payload.size(), 472u);
    EXPECT_EQ(r.from.core, 0);  // from the daemon's own endpoint
    EXPECT_EQ(r.from.module, 37);
    EXPECT_EQ(r.from.opcode, 33);
    EXPECT_EQ(r.from.length, 472);
    return wire::decode_dpp_flag(r.payload);
  }
  bool nothing_for(int n) {
    Received r;
    return !take(rx_[n], &r);
  }
  std::string send(std::uint32_t flags, std::uint32_t dpps) {
    return stdout_of([&] { send_flag_to_dpps(flags, dpps); });
  }
  int rx_[5] = {};
};

TEST_F(BroadcastTest, EmptyFlagsToEveryDpp) {
  EXPECT_EQ(send(0, 0xF),
            "DPPDEBUG_MGR_INFO: Sending flag 0x0 level 6 to DPP 1\n"
            "DPPDEBUG_MGR_INFO: Sending flag 0x0 level 6 to DPP 2\n"
            "DPPDEBUG_MGR_INFO: Sending flag 0x0 level 6 to DPP 3\n"
            "DPPDEBUG_MGR_INFO: Sending flag 0x0 level 6 to DPP 4\n");
  for (int n = 1; n <= 4; ++n) {
    wire::DppFlagMsg m = got(n);
    EXPECT_EQ(m.num_categories, 29);
    EXPECT_EQ(m.level, 6);
    EXPECT_EQ(m.flags, 0u);
    for (auto& block : m.filters) EXPECT_EQ(block, (wire::FilterBlock{0, 0, 0, 0}));
  }
  EXPECT_EQ(dpp_flag_addr.core, 12);  // the last DPP addressed
}

TEST_F(BroadcastTest, FilterBlocksOnlyForTheCategoriesSent) {
  for (int k = 0; k < 29; ++k)
    for (int w = 0; w < 4; ++w) cur_filters[k][w] = 0x100u * k + w + 1;
  debug_level = 3;
  send(0x5, 0x1);
  wire::DppFlagMsg m = got(1);
  EXPECT_EQ(m.level, 3);
  EXPECT_EQ(m.flags, 0x5u);
  EXPECT_EQ(m.filters[0], (wire::FilterBlock{1, 2, 3, 4}));
  EXPECT_EQ(m.filters[2], (wire::FilterBlock{0x201, 0x202, 0x203, 0x204}));
  for (int k : {1, 3, 4, 28}) EXPECT_EQ(m.filters[k], (wire::FilterBlock{0, 0, 0, 0})) << k;

  send(0x1FFFFFFF, 0x1);
  m = got(1);
  for (int k = 0; k < 29; ++k) EXPECT_EQ(m.filters[k][3], 0x100u * k + 4) << k;

  send(0x80000000u, 0x1);
  m = got(1);
  EXPECT_EQ(m.flags, 0x80000000u);
  for (auto& block : m.filters) EXPECT_EQ(block, (wire::FilterBlock{0, 0, 0, 0}));
}

TEST_F(BroadcastTest, OnlyTheDppsOfTheSetOnTheCard) {
  EXPECT_EQ(send(1, 0x10), "");
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(nothing_for(n));
  send(1, 0x6);
  EXPECT_TRUE(nothing_for(1));
  got(2);
  got(3);
  EXPECT_TRUE(nothing_for(4));
}

TEST_F(BroadcastTest, FailedSendIsReportedAndTheNextDppStillServed) {
  xipc_close(rx_[2]);
  xipc_fds_.erase(std::find(xipc_fds_.begin(), xipc_fds_.end(), rx_[2]));
  std::string out, err;
  err = stderr_of([&] { out = send(0x2, 0x7); });
  EXPECT_EQ(out,
            "DPPDEBUG_MGR_INFO: Sending flag 0x2 level 6 to DPP 1\n"
            "DPPDEBUG_MGR_INFO: Sending flag 0x2 level 6 to DPP 3\n");
  EXPECT_EQ(err.rfind("send xipc message: ", 0), 0u) << err;
  got(1);
  got(3);
}

// After a failed rebind fd_xipc names the descriptor the rebind closed: the
// send fails, is reported, and the state stays for the next broadcast.
TEST_F(BroadcastTest, SendOnAClosedDescriptorIsReported) {
  const int closed = dup(sd);
  ASSERT_GE(closed, 0);
  close(closed);
  fd_xipc = closed;
  std::string out, err;
  err = stderr_of([&] { out = send(0x1, 0x1); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.rfind("send xipc message: ", 0), 0u) << err;
  EXPECT_TRUE(nothing_for(1));
  fd_xipc = sd;
  send(0x1, 0x1);
  EXPECT_EQ(got(1).flags, 0x1u);
}

TEST_F(BroadcastTest, NothingGoesOutOnceReleased) {
  stdout_of([] { cleanup_koru(); });
  EXPECT_EQ(send(0, 0xF), "");
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(nothing_for(n));
}

class FirstBroadcastTest : public ManagerTest {};

TEST_F(FirstBroadcastTest, AddressIsInitialisedOnceOnTheFirstCallWhateverTheSets) {
  std::string first = stdout_of([] { send_flag_to_dpps(0, 0); });
  EXPECT_EQ(first, "DPPDEBUG_MGR_DBG: Initializing xipc address\n");
  EXPECT_EQ(dpp_flag_addr.family, 31);
  EXPECT_EQ(dpp_flag_addr.module, 66);
  EXPECT_EQ(dpp_flag_addr.opcode, 33);
  EXPECT_EQ(dpp_flag_addr.length, 472);
  EXPECT_EQ(stdout_of([] { send_flag_to_dpps(0, 0); }), "");
}

}  // namespace
}  // namespace dpplog_test
