// The environment: the platform directory, the card type and DRAVIK_FAIL,
// seen through the operations they affect.
#include <sys/stat.h>

#include <memory>

#include "platform/card.h"
#include "platform/fs.h"
#include "platform/host/test_support.h"
#include "platform/vesk.h"
#include "wire/vesk_frame.h"

namespace {

class EnvTest : public host_test::PlatformTest {
 protected:
  void TearDown() override {
    for (int q : saps_) vesk_unbind(q, 0);
    PlatformTest::TearDown();
  }
  // Binds SAPs 930, 931, ...: each result 0 or -1, with EIO at each failure.
  std::vector<int> binds(int n) {
    std::vector<int> out;
    for (int i = 0; i < n; ++i) {
      errno = 0;
      int q = vesk_bind(2, 930 + i, nullptr, "RECV");
      if (q >= 0) saps_.push_back(q);
      else EXPECT_EQ(errno, EIO);
      out.push_back(q < 0 ? -1 : 0);
    }
    return out;
  }
  // Sets DRAVIK_FAIL after unbinding every SAP of the test.
  void fail(const char* list) {
    for (int q : saps_) vesk_unbind(q, 0);
    saps_.clear();
    use_env("DRAVIK_FAIL", list);
  }
  std::vector<int> saps_;
};

TEST_F(EnvTest, PlatformDirectoryIsMadeGroupOnlyOrRefusedWhenTooLong) {
  std::string nested = path("a/b");
  use_env("DRAVIK_PLATFORM_DIR", nested);
  ASSERT_EQ(binds(1), std::vector<int>{0});
  struct stat st;
  ASSERT_EQ(stat((nested + "/vesk/930").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  for (const char* sub : {"", "/vesk", "/vesk/reg", "/corvan", "/dbgfac", "/xipc"}) {
    ASSERT_EQ(stat((nested + sub).c_str(), &st), 0) << sub;
    EXPECT_EQ(st.st_mode & 0777, 0750u) << sub;
  }

  std::string deep = dir_ + "/" + std::string(100, 'd');  // too long for sun_path
  use_env("DRAVIK_PLATFORM_DIR", deep);
  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(vesk_bind(2, 930, nullptr, "RECV"), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("DRAVIK_PLATFORM_DIR"), std::string::npos) << message;
  EXPECT_NE(message.find(deep), std::string::npos) << message;
}

TEST_F(EnvTest, CardTypeFollowsTheEnvironmentAndAnUnusableOneIsReported) {
  std::uint16_t id = 0;
  EXPECT_EQ(card_id_get(&id), 0);
  EXPECT_EQ(id, 40);
  const std::vector<std::pair<const char*, std::uint16_t>> cases = {
      {"163", 163}, {"0", 0}, {"65535", 65535}, {"65536", 40}, {"", 40}, {"12x", 40}};
  for (auto [value, want] : cases) {
    use_env("DRAVIK_CARD_ID", value);
    testing::internal::CaptureStderr();
    id = 1;
    ASSERT_EQ(card_id_get(&id), 0);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(id, want) << value;
    EXPECT_EQ(message.find("DRAVIK_CARD_ID") != std::string::npos, want == 40) << value;
  }
}

TEST_F(EnvTest, FailEntryFailsEveryCallOrOnlyItsNthCountedFromTheReset) {
  fail("vesk_bind");
  EXPECT_EQ(binds(2), (std::vector<int>{-1, -1}));
  fail("vesk_bind@2");
  EXPECT_EQ(binds(3), (std::vector<int>{0, -1, 0}));
  EXPECT_FALSE(exists(path("vesk/931")));
  // An opcode's entry counts only that opcode's calls; entries not understood
  // are reported and ignored.
  testing::internal::CaptureStderr();
  fail("vesk_options_set:7522@2, bogus ,vesk_bind@0,fs_stat:3,vesk_recv@");
  EXPECT_EQ(binds(2), (std::vector<int>{0, 0}));
  std::vector<int> got;
  for (std::uint32_t opcode : {922u, 7522u, 922u, 7522u, 7522u})
    got.push_back(vesk_options_set(saps_.at(0), opcode, 0x10));
  EXPECT_EQ(got, (std::vector<int>{0, 0, 0, -1, 0}));
  std::string message = testing::internal::GetCapturedStderr();
  for (const char* entry : {"\"bogus\"", "\"vesk_bind@0\"", "\"fs_stat:3\"", "\"vesk_recv@\""})
    EXPECT_NE(message.find(entry), std::string::npos) << entry << " in " << message;
}

// (Every other operation's entry is driven through the daemon end to end;
// fs_stat's differs only in its errno.)
TEST_F(EnvTest, FailedReceiveLeavesTheMessageWaitingAndFailedSendSendsNothing) {
  fail("vesk_recv@1,vesk_send,fs_stat");
  struct stat st;
  EXPECT_EQ(fs_stat("/cpp", &st), -1);
  EXPECT_EQ(errno, EACCES);
  binds(1);
  int q = saps_.at(0);
  int client = peer(path("client"));
  send_to(client, path("vesk/930"), wire::encode_vesk_request({5001, 0, 0, {}}));
  auto msg = std::make_unique<vesk_msg_t>();
  ASSERT_TRUE(readable(q));
  EXPECT_EQ(vesk_recv(q, msg.get(), 0), -1);
  EXPECT_EQ(vesk_errno_get(q), EIO);
  ASSERT_EQ(vesk_recv(q, msg.get(), 0), 0);
  EXPECT_EQ(vesk_send(q, wire::kReplyHeaderBytes.data(), 0, nullptr, 0, 0, msg.get(), 0), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(readable(client, 0));
}

}  // namespace
