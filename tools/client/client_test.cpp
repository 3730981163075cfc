// The client library against peers bound by the test itself, for what the
// end-to-end tests cannot pin down: which SAPs a notification reaches, sends
// that never block, short frames, stale endpoints, paths too long, and the
// helpers the tests themselves rely on. (Requests, replies and DPP frames are
// exercised against the real daemon by every end-to-end test.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

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
  try {
    unix_address(std::string(108, 'a'));
    FAIL() << "a 108-byte path was accepted";
  } catch (const PathTooLong& e) {
    EXPECT_NE(std::string(e.what()).find("sun_path"), std::string::npos);
  }
  EXPECT_THROW(send_raw(platform_at("/tmp/" + std::string(120, 'd')), 930, Buf{1}), PathTooLong);
}

TEST_F(ClientTest, RequestToASilentOrAbsentSapEndsAndLeavesNoReplySocket) {
  BoundSocket sap = bind_sap(930);
  EXPECT_FALSE(request(p, 930, 1, Buf{}, 100ms));
  EXPECT_TRUE(recv_dgram(sap.fd.fd, 0ms)) << "the request never reached the SAP";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(request(p, 931, 1, Buf{}, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::is_empty(clients_dir(p), ec) || ec) << "a reply socket was left";
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
  register_sap(7521, "930");
  register_sap(7521, "931");
  register_sap(7522, "940");  // another opcode: not notified
  register_sap(7521, "999");  // registered but gone: not reached
  register_sap(7521, "x1");   // not a SAP number
  EXPECT_EQ(notify(p, 7521, Buf{0, 0, 0, 2}), 2);
  for (BoundSocket* s : {&a, &b}) {
    auto got = recv_dgram(s->fd.fd, 1s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, (Buf{0, 0, 0x1D, 0x61, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}));
  }
  EXPECT_FALSE(recv_dgram(c.fd.fd, 0ms));
  EXPECT_EQ(notify(p, 3102, Buf{}), 0);
}

TEST_F(ClientTest, EndpointsReadShortFramesAsZeroAndReplaceStaleFiles) {
  std::string path = xipc_path(p, {4, 39, 0});
  {
    FakeDppEndpoint first(p, {4, 39, 0});
    FakeDppEndpoint second(p, {4, 39, 0});  // the first's file is stale to it
    ASSERT_EQ(send_raw_frame(path, Buf{0, 31, 0, 4, 0}), 0);
    auto f = second.recv(1s);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sender.family, 31);
    EXPECT_EQ(f->sender.core, 4);
    EXPECT_EQ(f->sender.module, 0);
    EXPECT_TRUE(f->payload.empty());
    // The length field holds the payload size cut to 16 bits.
    ASSERT_EQ(dpp_send(p, 13, 39, 7, 88, Buf(65536 + 3, 0), {4, 39, 0}), 0);
    f = second.recv(1s);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sender.length, 3);
    EXPECT_EQ(f->sender.port, 7);
    EXPECT_EQ(f->payload.size(), 65539u);
    EXPECT_TRUE(first.drain().empty());
  }
  EXPECT_FALSE(path_exists(path));
}

TEST_F(ClientTest, PlatformFilesReadAsLinesAndHeartbeats) {
  ASSERT_EQ(make_dirs(p.dir + "/corvan"), 0);
  EXPECT_TRUE(corvan_log_lines(p).empty());
  EXPECT_FALSE(read_heartbeats(p));
  FILE* f = std::fopen(corvan_log_path(p).c_str(), "w");
  ASSERT_TRUE(f);
  std::fputs("handshake 84\ndispatch 7 0\n", f);
  std::fclose(f);
  EXPECT_EQ(corvan_log_lines(p), (std::vector<std::string>{"handshake 84", "dispatch 7 0"}));

  char line[64];
  std::snprintf(line, sizeof line, "%020llu %011d\n", 12345ULL, -7);
  auto h = parse_heartbeats(line);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->count, 12345u);
  EXPECT_EQ(h->pm, -7);
  for (const char* bad : {"", "12", "x 12"}) EXPECT_FALSE(parse_heartbeats(bad)) << bad;
}

TEST(TestHelpers, WaitForPollsUntilTrueOrTimeOutAndTempDirCleansUp) {
  int calls = 0;
  EXPECT_TRUE(wait_for([&] { return ++calls >= 3; }, 2s, 1ms));
  EXPECT_EQ(calls, 3);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(wait_for([] { return false; }, 30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);

  std::string path;
  {
    TempDir t;
    path = t.path;
    ASSERT_EQ(make_dirs(t.path + "/a/b/c"), 0);
    struct stat st {};
    ASSERT_EQ(::stat((t.path + "/a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0027, 0u) << "group-writable or world-reachable";
  }
  EXPECT_FALSE(path_exists(path));
}

}  // namespace
}  // namespace client
