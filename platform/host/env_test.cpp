#include <sys/stat.h>

#include "platform/card.h"
#include "platform/host/test_support.h"
#include "platform/vesk.h"

namespace {

class EnvTest : public host_test::PlatformTest {
 protected:
  // Binds SAP 930 under another platform directory; the standard error it wrote.
  std::string bind_under(const std::string& dir, int& q) {
    setenv("DRAVIK_PLATFORM_DIR", dir.c_str(), 1);
    host_env_reset();
    testing::internal::CaptureStderr();
    errno = 0;
    q = vesk_bind(2, 930, nullptr, "RECV");
    int err = errno;
    std::string message = testing::internal::GetCapturedStderr();
    errno = err;
    return message;
  }
};

TEST_F(EnvTest, PlatformDirectoryIsMadeOrRefusedWithAMessage) {
  int q = -1;
  std::string nested = path("a/b/c");
  bind_under(nested, q);
  ASSERT_GE(q, 0);
  struct stat st;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
  EXPECT_EQ(vesk_unbind(q, 0), 0);

  std::string deep = dir_ + "/" + std::string(100, 'd');  // too long for sun_path
  std::string message = bind_under(deep, q);
  EXPECT_EQ(q, -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_NE(message.find("DRAVIK_PLATFORM_DIR"), std::string::npos) << message;
  EXPECT_NE(message.find(deep), std::string::npos) << message;

  { std::ofstream file(path("plain")); }
  message = bind_under(path("plain/dir"), q);
  EXPECT_EQ(q, -1);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_NE(message.find(path("plain/dir")), std::string::npos) << message;
}

TEST_F(EnvTest, CardTypeFollowsTheEnvironmentAndAnUnusableOneIsReported) {
  std::uint16_t id = 0;
  EXPECT_EQ(card_id_get(&id), 0);
  EXPECT_EQ(id, 40);
  struct Case {
    const char* value;
    std::uint16_t id;
  };
  for (Case c : {Case{"163", 163}, {"0", 0}, {"65535", 65535}, {"65536", 40}, {"abc", 40},
                 {"", 40}, {"-1", 40}, {"12x", 40}, {" 41", 40}, {"999999", 40}}) {
    setenv("DRAVIK_CARD_ID", c.value, 1);
    host_env_reset();
    testing::internal::CaptureStderr();
    id = 1;
    ASSERT_EQ(card_id_get(&id), 0);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(id, c.id) << c.value;
    EXPECT_EQ(message.find("DRAVIK_CARD_ID") != std::string::npos, c.id == 40) << c.value;
  }
}

}  // namespace
