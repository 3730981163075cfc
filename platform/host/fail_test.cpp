// DRAVIK_FAIL, seen through the operations it fails.
#include <memory>

#include "platform/dbgfac.h"
#include "platform/fs.h"
#include "platform/host/test_support.h"
#include "platform/vesk.h"
#include "wire/vesk_frame.h"

namespace {

class FailTest : public host_test::PlatformTest {
 protected:
  void fail(const char* list) {
    for (int q : saps_) vesk_unbind(q, 0);
    saps_.clear();
    setenv("DRAVIK_FAIL", list, 1);
    host_env_reset();
  }
  void TearDown() override {
    for (int q : saps_) vesk_unbind(q, 0);
    PlatformTest::TearDown();
  }
  // The result of each bind, -1 or 0; errno must be EIO at each failure.
  std::vector<int> binds(int n) {
    std::vector<int> out;
    for (int i = 0; i < n; ++i) {
      errno = 0;
      int q = vesk_bind(2, 930 + i, nullptr, "RECV");
      if (q >= 0) {
        saps_.push_back(q);
      } else {
        EXPECT_EQ(errno, EIO);
      }
      out.push_back(q < 0 ? -1 : 0);
    }
    return out;
  }
  std::vector<int> saps_;
};

TEST_F(FailTest, AnEntryFailsEveryCallOrOnlyItsNthUntilTheNextReset) {
  fail("vesk_bind");
  EXPECT_EQ(binds(3), (std::vector<int>{-1, -1, -1}));
  fail("vesk_bind@2");
  EXPECT_EQ(binds(3), (std::vector<int>{0, -1, 0}));
  EXPECT_FALSE(exists(path("vesk/931")));
  fail("vesk_bind@2");
  EXPECT_EQ(binds(2), (std::vector<int>{0, -1}));
}

TEST_F(FailTest, OptionsSetFailsForOneOpcodeCountingOnlyItsOwnCallsOrForAll) {
  fail("vesk_options_set:7522@2");
  binds(1);
  int q = saps_.at(0);
  std::vector<int> got;
  for (std::uint32_t opcode : {922u, 7522u, 922u, 7522u, 7522u})
    got.push_back(vesk_options_set(q, opcode, 0x10));
  EXPECT_EQ(got, (std::vector<int>{0, 0, 0, -1, 0}));

  fail("vesk_options_set:7521");
  binds(1);
  q = saps_.at(0);
  errno = 0;
  EXPECT_EQ(vesk_options_set(q, 7521, 0x10), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(vesk_options_get(q, 7521), 0);
  EXPECT_FALSE(exists(path("vesk/reg/7521/930")));

  fail("vesk_options_set");
  binds(1);
  EXPECT_LT(vesk_options_set(saps_.at(0), 922, 0x10), 0);
  EXPECT_LT(vesk_options_set(saps_.at(0), 3102, 0x10), 0);
}

TEST_F(FailTest, FailedReceiveKeepsItsErrorAndLeavesTheMessageWaiting) {
  fail("vesk_recv@1,vesk_send");
  binds(1);
  int q = saps_.at(0);
  int client = peer(path("client"));
  send_to(client, path("vesk/930"), wire::encode_vesk_request({5001, 0, 0, {}}));
  auto msg = std::make_unique<vesk_msg_t>();
  ASSERT_TRUE(readable(q));
  EXPECT_EQ(vesk_recv(q, msg.get(), 0), -1);
  EXPECT_EQ(vesk_errno_get(q), EIO);
  ASSERT_EQ(vesk_recv(q, msg.get(), 0), 0);
  EXPECT_EQ(msg->opcode, 5001u);
  errno = 0;
  EXPECT_EQ(vesk_send(q, wire::kReplyHeaderBytes.data(), 0, nullptr, 0, 0, msg.get(), 0), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(readable(client, 0));
}

TEST_F(FailTest, DebugFacilityAndFileCallsFailWithTheirErrors) {
  EXPECT_EQ(dbgfac_init("dpp_debug", 0, 3), 0);
  fail("dbgfac_init,fs_stat,fs_mkdir@1,fs_fopen,fs_symlink");
  EXPECT_NE(dbgfac_init("dpp_debug", 0, 3), 0);
  EXPECT_EQ(errno, EIO);
  struct stat st;
  EXPECT_EQ(fs_stat("/cpp", &st), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(fs_mkdir("/cpp/plinder_dpp_logs", 0755), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(fs_mkdir("/cpp/plinder_dpp_logs", 0755), 0);
  EXPECT_EQ(fs_fopen("/cpp/plinder_dpp_logs/x", "w"), nullptr);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(fs_symlink("/cpp/plinder_dpp_logs/x", "/var/log/external/x"), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(exists(path("fs/var/log/external/x")));
}

TEST_F(FailTest, EntriesNotUnderstoodAreReportedAndIgnored) {
  testing::internal::CaptureStderr();
  fail(" bogus ,vesk_bind@x,vesk_bind@0,fs_stat:3,vesk_recv@");
  EXPECT_EQ(binds(1), std::vector<int>{0});
  struct stat st;
  EXPECT_EQ(fs_stat("/cpp", &st), 0);
  std::string message = testing::internal::GetCapturedStderr();
  for (const char* entry :
       {"\"bogus\"", "\"vesk_bind@x\"", "\"vesk_bind@0\"", "\"fs_stat:3\"", "\"vesk_recv@\""})
    EXPECT_NE(message.find(entry), std::string::npos) << entry << " in " << message;
}

}  // namespace
