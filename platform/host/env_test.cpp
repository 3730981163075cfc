#include <sys/stat.h>

#include "platform/card.h"
#include "platform/host/test_support.h"
#include "platform/vesk.h"

namespace {

class EnvTest : public host_test::PlatformTest {};

TEST_F(EnvTest, MissingPlatformDirectoryIsCreatedWithItsParents) {
  std::string nested = path("a/b/c");
  setenv("DRAVIK_PLATFORM_DIR", nested.c_str(), 1);
  host_env_reset();
  int q = vesk_bind(2, 930, nullptr, "RECV");
  ASSERT_GE(q, 0);
  struct stat st;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
  EXPECT_TRUE(exists(nested + "/vesk/930"));
  EXPECT_EQ(vesk_unbind(q, 0), 0);
}

TEST_F(EnvTest, DirectoryTooLongForASocketAddressIsRefusedWithAMessage) {
  std::string deep = dir_ + "/" + std::string(100, 'd');
  setenv("DRAVIK_PLATFORM_DIR", deep.c_str(), 1);
  host_env_reset();
  testing::internal::CaptureStderr();
  errno = 0;
  int q = vesk_bind(2, 930, nullptr, "RECV");
  int err = errno;
  std::string message = testing::internal::GetCapturedStderr();
  EXPECT_EQ(q, -1);
  EXPECT_EQ(err, ENAMETOOLONG);
  EXPECT_NE(message.find("DRAVIK_PLATFORM_DIR"), std::string::npos) << message;
  EXPECT_NE(message.find(deep), std::string::npos) << message;
}

TEST_F(EnvTest, DirectoryThatCannotBeMadeFailsTheOperationWithAMessage) {
  { std::ofstream file(path("plain")); }
  std::string under_file = path("plain/dir");
  setenv("DRAVIK_PLATFORM_DIR", under_file.c_str(), 1);
  host_env_reset();
  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(vesk_bind(2, 930, nullptr, "RECV"), -1);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(under_file), std::string::npos);
}

TEST_F(EnvTest, CardTypeDefaultsToFortyAndFollowsTheEnvironment) {
  std::uint16_t id = 0;
  EXPECT_EQ(card_id_get(&id), 0);
  EXPECT_EQ(id, 40);
  for (const char* v : {"163", "0", "65535", "41"}) {
    setenv("DRAVIK_CARD_ID", v, 1);
    host_env_reset();
    ASSERT_EQ(card_id_get(&id), 0);
    EXPECT_EQ(id, std::stoi(v)) << v;
  }
}

TEST_F(EnvTest, UnusableCardTypeIsReportedAndTheDefaultUsed) {
  for (const char* v : {"65536", "abc", "", "-1", "12x", " 41", "999999"}) {
    setenv("DRAVIK_CARD_ID", v, 1);
    host_env_reset();
    testing::internal::CaptureStderr();
    std::uint16_t id = 0;
    card_id_get(&id);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(id, 40) << v;
    EXPECT_NE(message.find("DRAVIK_CARD_ID"), std::string::npos) << v;
  }
}

}  // namespace
