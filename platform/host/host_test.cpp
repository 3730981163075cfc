// The host platform's edges that no run of the daemon reaches: failures
// chosen through DRAVIK_FAIL, card paths that do not fit or leave the root,
// the heartbeat line and when an unwritten count is due, and the XIPC
// descriptor table's end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/corvan.h"
#include "platform/fs.h"
#include "platform/host/reset.h"
#include "platform/vesk.h"
#include "xipc/xipc.h"

namespace {

// Each test has its own DRAVIK_PLATFORM_DIR; the platform forgets what it
// read of the environment before and after.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dravik-host-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    for (const char* v : {"DRAVIK_FAIL", "DRAVIK_FS_ROOT", "DRAVIK_CARD_ID"}) unsetenv(v);
    use("DRAVIK_PLATFORM_DIR", dir_);
  }
  void TearDown() override {
    for (int q : saps_) vesk_unbind(q, 0);
    host_env_reset();
    std::filesystem::remove_all(dir_);
  }
  static void use(const char* var, const std::string& value) {
    setenv(var, value.c_str(), 1);
    host_env_reset();
  }
  std::string path(const std::string& sub) const { return dir_ + "/" + sub; }
  static std::string read(const std::string& p) {
    std::ostringstream s;
    s << std::ifstream(p).rdbuf();
    return s.str();
  }
  int bind(int sap) {
    int q = vesk_bind(2, sap, nullptr, "RECV");
    if (q >= 0) saps_.push_back(q);
    return q;
  }
  std::string dir_;
  std::vector<int> saps_;
};

TEST_F(HostTest, FailListFailsEveryCallOrTheNthOfAnOperationOrOpcode) {
  use("DRAVIK_FAIL",
      "vesk_bind@2, bogus ,vesk_options_set:7522@2,vesk_bind@0,fs_stat:3,vesk_recv@,fs_stat");
  testing::internal::CaptureStderr();
  EXPECT_GE(bind(930), 0);
  errno = 0;
  EXPECT_EQ(bind(931), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_GE(bind(932), 0);
  const std::string said = testing::internal::GetCapturedStderr();
  for (const char* entry : {"\"bogus\"", "\"vesk_bind@0\"", "\"fs_stat:3\"", "\"vesk_recv@\""})
    EXPECT_NE(said.find(entry), std::string::npos) << entry << " in " << said;
  std::vector<int> got;
  for (std::uint32_t opcode : {922u, 7522u, 922u, 7522u, 7522u})
    got.push_back(vesk_options_set(saps_[0], opcode, 0x10));
  EXPECT_EQ(got, (std::vector<int>{0, 0, 0, -1, 0}));
  // An unbound handle is gone, whatever file later takes its descriptor number.
  EXPECT_EQ(vesk_unbind(saps_[1], 0), 0);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(dup2(null, saps_[1]), saps_[1]);
  close(null);
  EXPECT_EQ(vesk_unbind(saps_[1], 0), -1);
  EXPECT_EQ(close(saps_[1]), 0);
  struct stat st;
  EXPECT_EQ(fs_stat("/cpp", &st), -1);
  EXPECT_EQ(errno, EACCES);
}

TEST_F(HostTest, PathsThatLeaveTheRootOrDoNotFitAreRefused) {
  struct stat st;
  const std::vector<std::function<bool()>> escapes = {
      [] { return fs_open("/cpp/plinder_dpp_logs/../../../x", O_WRONLY | O_CREAT, 0644) == -1; },
      [] { return fs_mkdir("/var/log/external/../../../../x", 0755) == -1; },
      [&] { return fs_stat("/cpp/..//../etc", &st) == -1; },
      [] { return fs_symlink("/cpp/../../target", "/var/log/external/link") == -1; },
      [] { return fs_symlink("/cpp/target", "/var/log/external/../../../../x") == -1; },
      [] { return fs_unlink("/cpp/../../x") == -1; }};
  for (std::size_t i = 0; i < escapes.size(); ++i) {
    errno = 0;
    EXPECT_TRUE(escapes[i]()) << i;
    EXPECT_EQ(errno, EACCES) << i;
  }
  use("DRAVIK_PLATFORM_DIR", path(std::string(100, 'd')));  // its sockets would not fit sun_path
  testing::internal::CaptureStderr();
  EXPECT_EQ(vesk_bind(2, 930, nullptr, "RECV"), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("use a shorter"), std::string::npos);
  errno = 0;
  EXPECT_EQ(fs_open(("/cpp/" + std::string(5000, 'n')).c_str(), O_WRONLY, 0), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  use("DRAVIK_FS_ROOT", path(std::string(5000, 'r')));  // a root that does not fit
  errno = 0;
  EXPECT_EQ(fs_mkdir("/cpp", 0755), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_FALSE(std::filesystem::exists(path("x")));
}

// Descriptors beyond the XIPC table's 1024 slots are refused, never stored.
TEST_F(HostTest, XipcSocketsEndAtDescriptor1023) {
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit more{std::min<rlim_t>(old.rlim_max, 2048), old.rlim_max};
  if (more.rlim_cur < 1100 || setrlimit(RLIMIT_NOFILE, &more) != 0)
    GTEST_SKIP() << "too few descriptors";
  std::vector<int> held;
  for (int fd = 0; fd < 1022 && (fd = open("/dev/null", O_RDONLY)) >= 0;) held.push_back(fd);
  const int last = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
  EXPECT_EQ(last, 1023);
  errno = 0;
  EXPECT_EQ(xipc_socket(AF_XIPC, SOCK_DGRAM, 0), -1);
  EXPECT_EQ(errno, EMFILE);
  const XipcAddr own{AF_XIPC, 0, 37, 0, {}, 0, 7, 0};
  EXPECT_EQ(xipc_bind(last, &own, kXipcAddrSize), 0);
  EXPECT_EQ(xipc_bind(1024, &own, kXipcAddrSize), -1);
  EXPECT_EQ(xipc_sendto(last, "x", 1, 0, nullptr, 0), -1);  // no address to send to
  xipc_close(last);
  EXPECT_EQ(fcntl(last, F_GETFD), -1);  // the descriptor is closed with its slot
  for (int fd : held) close(fd);
  setrlimit(RLIMIT_NOFILE, &old);
}

}  // namespace

TEST_F(HostTest, HeartbeatLineShowsEveryCountAndPmOnceWrittenAndIsDueASecondLater) {
  char want[40];
  EXPECT_EQ(corvan_heartbeat_due_ms(), -1);  // nothing counted yet
  for (unsigned long long n = 1; n <= 1001; ++n) {
    const int pm = n == 1000 ? -7 : 42;
    corvan_keep_alive(pm, 0);
    corvan_heartbeat_flush();
    ASSERT_EQ(corvan_heartbeat_due_ms(), -1) << n;
    std::snprintf(want, sizeof want, "%020llu %011d\n", n, pm);
    ASSERT_EQ(read(path("corvan/heartbeats")), want) << n;
  }
  corvan_keep_alive(42, 0);  // just after a write: counted, and due a second after it
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long in = corvan_heartbeat_due_ms() - (now.tv_sec * 1000LL + now.tv_nsec / 1000000);
  EXPECT_TRUE(in > 900 && in <= 1000) << in;
  EXPECT_EQ(read(path("corvan/heartbeats")), want);
}
