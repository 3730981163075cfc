// The client library against peers bound by the test itself, for what the
// end-to-end tests cannot pin down: which SAPs a notification reaches, sends
// that never block, stale endpoints, paths too long, and the helpers the
// tests themselves rely on. (Requests, replies and DPP frames are
// exercised against the real daemon by every end-to-end test.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tools/client/platform_dir.h"
#include "tools/client/platform_files.h"
#include "tools/client/temp_dir.h"
#include "tools/client/unix_socket.h"
#include "tools/client/vesk_client.h"
#include "tools/client/xipc_peer.h"

namespace client {
namespace {

using namespace std::chrono_literals;
using Buf = std::vector<std::uint8_t>;

struct ClientTest : ::testing::Test {
  TempDir tmp{"dvc-"};
  PlatformDir p = platform_at(tmp.path);

  BoundSocket bind_sap(unsigned sap) {
    EXPECT_EQ(make_dirs(p.dir + "/vesk"), 0);
    BoundSocket s;
    EXPECT_EQ(bind_dgram(vesk_path(p, sap), s), 0);
    return s;
  }
  void register_sap(std::uint32_t opcode, const std::string& name) {
    ASSERT_EQ(make_dirs(vesk_reg_dir(p, opcode)), 0);
    int fd = ::open((vesk_reg_dir(p, opcode) + "/" + name).c_str(), O_CREAT | O_WRONLY, 0640);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
};

TEST(PlatformDirTest, DefaultsAndSocketPathsTooLongForSunPath) {
  const char* saved = std::getenv("DRAVIK_PLATFORM_DIR");
  std::string keep = saved ? saved : "";
  ::unsetenv("DRAVIK_PLATFORM_DIR");
  ::setenv("DRAVIK_FS_ROOT", "/tmp/root", 1);
  EXPECT_EQ(platform_from_env().dir, "/tmp/dravik");
  EXPECT_EQ(platform_from_env().fs_root, "/tmp/root");
  ::unsetenv("DRAVIK_FS_ROOT");
  EXPECT_EQ(platform_from_env().fs_root, "/tmp/dravik/fs");
  if (saved) ::setenv("DRAVIK_PLATFORM_DIR", keep.c_str(), 1);

  EXPECT_NO_THROW(unix_address("/" + std::string(106, 'a')));
  EXPECT_THROW(unix_address(std::string(108, 'a')), PathTooLong);
  EXPECT_THROW(send_raw(platform_at("/tmp/" + std::string(120, 'd')), 930, Buf{1}), PathTooLong);
}

TEST_F(ClientTest, UnboundSendsCarryNoReplyAddressAndNeverBlock) {
  BoundSocket sap = bind_sap(930);
  ASSERT_EQ(send_unbound(p, 930, 6111, Buf{0, 0, 0, 1}, 1, 5), 0);
  auto got = recv_dgram(sap.fd.fd, 1s);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->sender, "");
  EXPECT_EQ(got->bytes, (Buf{0, 0, 0x17, 0xDF, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 1}));
  EXPECT_EQ(send_raw(p, 932, Buf{1}), ENOENT);
  int err = 0;
  for (int i = 0; i < 10000 && err == 0; ++i) err = send_raw(p, 930, Buf(64, 1));
  EXPECT_EQ(err, EAGAIN);
}

TEST_F(ClientTest, NotifyReachesEveryRegisteredSapAndNoOther) {
  BoundSocket a = bind_sap(930), b = bind_sap(931), c = bind_sap(940);
  for (const char* sap : {"930", "931", "999", "x1"}) register_sap(7521, sap);  // 999 is gone
  register_sap(7522, "940");  // another opcode: not notified
  EXPECT_EQ(notify(p, 7521, Buf{0, 0, 0, 2}), 2);
  for (BoundSocket* s : {&a, &b}) {
    auto got = recv_dgram(s->fd.fd, 1s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, (Buf{0, 0, 0x1D, 0x61, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}));
  }
  EXPECT_FALSE(recv_dgram(c.fd.fd, 0ms));
}

TEST_F(ClientTest, EndpointsReplaceStaleFilesAndRemoveTheirOwn) {
  std::string path = xipc_path(p, {4, 39, 0});
  {
    FakeDppEndpoint first(p, {4, 39, 0});
    FakeDppEndpoint second(p, {4, 39, 0});  // the first's file is stale to it
    // The length field holds the payload size cut to 16 bits.
    ASSERT_EQ(dpp_send(p, 13, 39, 7, 88, Buf(65536 + 3, 0), {4, 39, 0}), 0);
    auto f = second.recv(1s);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sender.core, 13);
    EXPECT_EQ(f->sender.length, 3);
    EXPECT_EQ(f->sender.port, 7);
    EXPECT_EQ(f->payload.size(), 65539u);
    EXPECT_TRUE(first.drain().empty());
  }
  EXPECT_FALSE(path_exists(path));
}

TEST(TestHelpers, HeartbeatsParseAndWaitForPollsUntilTrueOrTimeOut) {
  char line[64];
  std::snprintf(line, sizeof line, "%020llu %011d\n", 12345ULL, -7);
  auto h = parse_heartbeats(line);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->count, 12345u);
  EXPECT_EQ(h->pm, -7);
  for (const char* bad : {"", "12", "x 12"}) EXPECT_FALSE(parse_heartbeats(bad)) << bad;

  int calls = 0;
  EXPECT_TRUE(wait_for([&] { return ++calls >= 3; }, 2s, 1ms));
  EXPECT_EQ(calls, 3);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(wait_for([] { return false; }, 30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

}  // namespace
}  // namespace client
