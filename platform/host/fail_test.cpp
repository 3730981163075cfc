// DRAVIK_FAIL, seen through the operations it fails.
#include <chrono>
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
  int bind(int sap) {
    int q = vesk_bind(2, sap, nullptr, "RECV");
    if (q >= 0) saps_.push_back(q);
    return q;
  }
  std::vector<int> saps_;
};

TEST_F(FailTest, NthCallOnlyFails) {
  fail("vesk_bind@2");
  EXPECT_GE(bind(930), 0);
  errno = 0;
  EXPECT_EQ(bind(931), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(exists(path("vesk/931")));
  EXPECT_GE(bind(932), 0);
}

TEST_F(FailTest, EntryWithoutCountFailsEveryCall) {
  fail("vesk_bind");
  for (int i = 0; i < 3; ++i) {
    errno = 0;
    EXPECT_EQ(bind(930 + i), -1);
    EXPECT_EQ(errno, EIO);
  }
}

TEST_F(FailTest, OptionsSetFailsForOneOpcodeOrForAll) {
  fail("vesk_options_set:7521");
  int q = bind(930);
  ASSERT_GE(q, 0);
  EXPECT_EQ(vesk_options_set(q, 922, 0x10), 0);
  errno = 0;
  EXPECT_EQ(vesk_options_set(q, 7521, 0x10), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(vesk_options_get(q, 7521), 0);
  EXPECT_FALSE(exists(path("vesk/reg/7521/930")));
  EXPECT_TRUE(exists(path("vesk/reg/922/930")));

  fail("vesk_options_set");
  q = bind(940);
  EXPECT_LT(vesk_options_set(q, 922, 0x10), 0);
  EXPECT_LT(vesk_options_set(q, 3102, 0x10), 0);
}

TEST_F(FailTest, OpcodeEntryCountsOnlyItsOwnOpcode) {
  fail("vesk_options_set:7522@2");
  int q = bind(930);
  EXPECT_EQ(vesk_options_set(q, 922, 0x10), 0);
  EXPECT_EQ(vesk_options_set(q, 7522, 0x10), 0);
  EXPECT_EQ(vesk_options_set(q, 922, 0x10), 0);
  EXPECT_EQ(vesk_options_set(q, 7522, 0x10), -1);
  EXPECT_EQ(vesk_options_set(q, 7522, 0x10), 0);
}

TEST_F(FailTest, FailedReceiveKeepsItsErrorAndLeavesTheMessageWaiting) {
  fail("vesk_recv@1,vesk_send");
  int q = bind(930);
  int client = peer(path("client"));
  wire::VeskRequestFrame f;
  f.opcode = 5001;
  send_to(client, path("vesk/930"), wire::encode_vesk_request(f));
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

TEST_F(FailTest, DebugFacilityInitFails) {
  fail("dbgfac_init");
  EXPECT_NE(dbgfac_init("dpp_debug", 0, 3), 0);
  EXPECT_EQ(errno, EIO);
}

TEST_F(FailTest, FileCallsFailWithTheirErrors) {
  fail("fs_stat,fs_mkdir@1,fs_fopen,fs_symlink");
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

TEST_F(FailTest, CountsRestartWhenThePlatformIsReset) {
  fail("vesk_bind@1");
  EXPECT_EQ(bind(930), -1);
  EXPECT_GE(bind(931), 0);
  fail("vesk_bind@1");
  EXPECT_EQ(bind(932), -1);
}

TEST_F(FailTest, EntriesNotUnderstoodAreReportedAndIgnored) {
  testing::internal::CaptureStderr();
  fail(" bogus ,vesk_bind@x,vesk_bind@0,fs_stat:3,vesk_recv@");
  EXPECT_GE(bind(930), 0);
  struct stat st;
  EXPECT_EQ(fs_stat("/cpp", &st), 0);
  std::string message = testing::internal::GetCapturedStderr();
  for (const char* entry :
       {"\"bogus\"", "\"vesk_bind@x\"", "\"vesk_bind@0\"", "\"fs_stat:3\"", "\"vesk_recv@\""})
    EXPECT_NE(message.find(entry), std::string::npos) << entry << " in " << message;
}

}  // namespace
