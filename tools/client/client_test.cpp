// The client library against peers bound by the test itself: a fake SAP that
// answers like a VESK receiver, registrations on disk, fake DPP endpoints.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <thread>

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
  std::size_t client_sockets_left() {
    std::size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(clients_dir(p), ec);
         !ec && it != std::filesystem::directory_iterator(); ++it)
      ++n;
    return n;
  }
};

TEST(PlatformDirTest, PathsFollowTheHostLayout) {
  PlatformDir p = platform_at("/tmp/x");
  EXPECT_EQ(p.fs_root, "/tmp/x/fs");
  EXPECT_EQ(vesk_path(p, 930), "/tmp/x/vesk/930");
  EXPECT_EQ(vesk_reg_path(p, 922, 930), "/tmp/x/vesk/reg/922/930");
  EXPECT_EQ(xipc_path(p, 4, 39, 0), "/tmp/x/xipc/4.39.0");
  EXPECT_EQ(xipc_path(p, kDaemonEndpoint), "/tmp/x/xipc/0.37.1024");
  EXPECT_EQ(corvan_log_path(p), "/tmp/x/corvan/log");
  EXPECT_EQ(heartbeats_path(p), "/tmp/x/corvan/heartbeats");
  EXPECT_EQ(dbgfac_log_path(p, "dpp_debug"), "/tmp/x/dbgfac/dpp_debug.log");
  EXPECT_EQ(dbgfac_vtys_path(p, "dpp_debug"), "/tmp/x/dbgfac/dpp_debug.vtys");
  EXPECT_EQ(fs_path(p, "/cpp/plinder_dpp_logs/"), "/tmp/x/fs/cpp/plinder_dpp_logs/");
}

TEST(PlatformDirTest, EnvironmentAndDefaults) {
  const char* saved_dir = std::getenv("DRAVIK_PLATFORM_DIR");
  const char* saved_root = std::getenv("DRAVIK_FS_ROOT");
  std::string keep_dir = saved_dir ? saved_dir : "", keep_root = saved_root ? saved_root : "";
  ::unsetenv("DRAVIK_PLATFORM_DIR");
  ::unsetenv("DRAVIK_FS_ROOT");
  EXPECT_EQ(platform_from_env().dir, "/tmp/dravik");
  EXPECT_EQ(platform_from_env().fs_root, "/tmp/dravik/fs");
  ::setenv("DRAVIK_PLATFORM_DIR", "/tmp/pd", 1);
  EXPECT_EQ(platform_from_env().fs_root, "/tmp/pd/fs");
  ::setenv("DRAVIK_FS_ROOT", "/tmp/root", 1);
  EXPECT_EQ(platform_from_env().dir, "/tmp/pd");
  EXPECT_EQ(platform_from_env().fs_root, "/tmp/root");
  if (saved_dir)
    ::setenv("DRAVIK_PLATFORM_DIR", keep_dir.c_str(), 1);
  else
    ::unsetenv("DRAVIK_PLATFORM_DIR");
  if (saved_root)
    ::setenv("DRAVIK_FS_ROOT", keep_root.c_str(), 1);
  else
    ::unsetenv("DRAVIK_FS_ROOT");
}

TEST(PlatformDirTest, SocketPathLongerThanSunPathIsRefusedClearly) {
  std::string fits(107, 'a'), too_long(108, 'a');
  EXPECT_NO_THROW(unix_address("/" + fits.substr(1)));
  try {
    unix_address(too_long);
    FAIL() << "a 108-byte path was accepted";
  } catch (const PathTooLong& e) {
    EXPECT_NE(std::string(e.what()).find("sun_path"), std::string::npos);
  }
  PlatformDir deep = platform_at("/tmp/" + std::string(120, 'd'));
  EXPECT_THROW(send_raw(deep, 930, Buf{1}), PathTooLong);
}

TEST_F(ClientTest, RequestGetsTheReplyFrameFromTheSap) {
  BoundSocket sap = bind_sap(930);
  std::thread server([&] {
    auto got = recv_dgram(sap.fd.fd, 5s);
    ASSERT_TRUE(got);
    EXPECT_NE(got->sender.find("/clients/"), std::string::npos);
    auto req = wire::decode_vesk_request(got->bytes);
    EXPECT_EQ(req.opcode, 5001u);
    EXPECT_EQ(req.flags, 2u);
    EXPECT_EQ(req.tag, 77u);
    EXPECT_EQ(req.payload, (Buf{9, 8, 7}));
    wire::VeskReplyFrame r;
    r.header = wire::kReplyHeaderBytes;
    r.opcode = req.opcode;
    r.tag = req.tag;
    r.payload = {'o', 'k'};
    Fd out = dgram_socket();
    EXPECT_EQ(send_dgram(out.fd, got->sender, wire::encode_vesk_reply(r)), 0);
  });
  auto reply = request(p, 930, 5001, Buf{9, 8, 7}, 5s, 2, 77);
  server.join();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->header, wire::kReplyHeaderBytes);
  EXPECT_EQ(reply->opcode, 5001u);
  EXPECT_EQ(reply->tag, 77u);
  EXPECT_EQ(reply->payload, (Buf{'o', 'k'}));
  EXPECT_EQ(client_sockets_left(), 0u) << "the reply socket outlived its request";
}

TEST_F(ClientTest, RequestWithoutAnswerTimesOut) {
  BoundSocket sap = bind_sap(930);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(request(p, 930, 1, Buf{}, 100ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_TRUE(recv_dgram(sap.fd.fd, 0ms)) << "the request never reached the SAP";
  EXPECT_EQ(client_sockets_left(), 0u);
}

TEST_F(ClientTest, RequestToAnAbsentSapFailsAtOnce) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(request(p, 931, 1, Buf{}, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(ClientTest, UnboundAndRawSendsCarryNoReplyAddress) {
  BoundSocket sap = bind_sap(930);
  ASSERT_EQ(send_unbound(p, 930, 6111, Buf{0, 0, 0, 1}, 1, 5), 0);
  auto got = recv_dgram(sap.fd.fd, 1s);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->sender, "");
  EXPECT_EQ(got->bytes, (Buf{0, 0, 0x17, 0xDF, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 1}));

  ASSERT_EQ(send_raw(p, 930, Buf{}), 0);
  got = recv_dgram(sap.fd.fd, 1s);
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->bytes.empty());
  EXPECT_EQ(send_raw(p, 932, Buf{1}), ENOENT);
}

TEST_F(ClientTest, SendsNeverBlockOnAFullQueue) {
  BoundSocket sap = bind_sap(930);
  int err = 0;
  for (int i = 0; i < 10000 && err == 0; ++i) err = send_raw(p, 930, Buf(64, 1));
  EXPECT_EQ(err, EAGAIN);
}

TEST_F(ClientTest, NotifyReachesEveryRegisteredSap) {
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
    auto f = wire::decode_vesk_request(got->bytes);
    EXPECT_EQ(f.opcode, 7521u);
    EXPECT_EQ(f.flags, 0u);
    EXPECT_EQ(f.payload, (Buf{0, 0, 0, 2}));
  }
  EXPECT_FALSE(recv_dgram(c.fd.fd, 0ms));
  EXPECT_EQ(notify(p, 3102, Buf{}), 0);
}

TEST_F(ClientTest, DppSendFramesCarryTheSenderAddress) {
  FakeDppEndpoint daemon(p, kDaemonEndpoint);
  ASSERT_EQ(dpp_send(p, 13, 39, 7, 88, Buf{0xAA, 0xBB}), 0);
  auto f = daemon.recv(1s);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->sender.family, 31);
  EXPECT_EQ(f->sender.core, 13);
  EXPECT_EQ(f->sender.module, 39);
  EXPECT_EQ(f->sender.opcode, 88);
  EXPECT_EQ(f->sender.length, 2);
  EXPECT_EQ(f->sender.port, 7);
  EXPECT_EQ(f->payload, (Buf{0xAA, 0xBB}));

  // The length field holds the payload size cut to 16 bits.
  ASSERT_EQ(dpp_send(p, 0, 39, 0, 1, Buf(65536 + 3, 0)), 0);
  f = daemon.recv(1s);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->sender.length, 3);
  EXPECT_EQ(f->payload.size(), 65539u);
}

TEST_F(ClientTest, ShortFramesReadZeroForMissingAddressBytes) {
  FakeDppEndpoint dpp(p, {4, 66, 0});
  ASSERT_EQ(send_raw_frame(xipc_path(p, dpp.where), Buf{0, 31, 0, 4, 0}), 0);
  auto f = dpp.recv(1s);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->sender.family, 31);
  EXPECT_EQ(f->sender.core, 4);
  EXPECT_EQ(f->sender.module, 0);
  EXPECT_TRUE(f->payload.empty());
  EXPECT_TRUE(dpp.drain().empty());
}

TEST_F(ClientTest, EndpointReplacesAStaleFileAndRemovesItsPath) {
  std::string path = xipc_path(p, {4, 39, 0});
  {
    FakeDppEndpoint first(p, {4, 39, 0});
    FakeDppEndpoint second(p, {4, 39, 0});  // the first's file is stale to it
    ASSERT_EQ(dpp_send(p, 0, 37, 1024, 88, Buf{1}, {4, 39, 0}), 0);
    EXPECT_TRUE(second.recv(1s));
    EXPECT_TRUE(first.drain().empty());
  }
  EXPECT_FALSE(path_exists(path));
  int err = dpp_send(p, 0, 37, 1024, 88, Buf{1}, {4, 39, 0});
  EXPECT_TRUE(err == ENOENT || err == ECONNREFUSED) << err;
}

TEST(PlatformFilesTest, HeartbeatLineParses) {
  char line[64];
  std::snprintf(line, sizeof line, "%020llu %011d\n", 12345ULL, 100);
  ASSERT_EQ(std::string(line).size(), 33u);
  auto h = parse_heartbeats(line);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->count, 12345u);
  EXPECT_EQ(h->pm, 100);
  std::snprintf(line, sizeof line, "%020llu %011d\n", 1ULL, -7);
  h = parse_heartbeats(line);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->pm, -7);
  EXPECT_FALSE(parse_heartbeats(""));
  EXPECT_FALSE(parse_heartbeats("12"));
  EXPECT_FALSE(parse_heartbeats("x 12"));
}

TEST_F(ClientTest, FilesReadAsLines) {
  ASSERT_EQ(make_dirs(p.dir + "/corvan"), 0);
  EXPECT_TRUE(corvan_log_lines(p).empty());
  EXPECT_FALSE(read_heartbeats(p));
  {
    FILE* f = std::fopen(corvan_log_path(p).c_str(), "w");
    ASSERT_TRUE(f);
    std::fputs("handshake 84\ndispatch 7 0\n", f);
    std::fclose(f);
  }
  EXPECT_EQ(corvan_log_lines(p), (std::vector<std::string>{"handshake 84", "dispatch 7 0"}));
}

TEST(WaitForTest, PollsUntilThePredicateHoldsOrTimesOut) {
  int calls = 0;
  EXPECT_TRUE(wait_for([&] { return ++calls >= 3; }, 2s, 1ms));
  EXPECT_EQ(calls, 3);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(wait_for([] { return false; }, 30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(TempDirTest, RemovesEverythingBelowIt) {
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
