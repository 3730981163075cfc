#include <sys/stat.h>

#include <chrono>

#include "platform/host/test_support.h"
#include "xipc/xipc.h"

namespace {

using host_test::Bytes;

XipcAddr endpoint(std::uint16_t core, std::uint16_t module, std::uint16_t port,
                  std::uint16_t opcode = 0, std::uint16_t length = 0) {
  return XipcAddr{AF_XIPC, core, module, opcode, {}, length, port, 0};
}

class XipcTest : public host_test::PlatformTest {
 protected:
  void TearDown() override {
    for (int fd : xipc_fds_) xipc_close(fd);
    PlatformTest::TearDown();
  }
  int open_socket() {
    int fd = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    if (fd >= 0) xipc_fds_.push_back(fd);
    return fd;
  }
  int bound(const XipcAddr& a) {
    int fd = open_socket();
    EXPECT_EQ(xipc_bind(fd, &a, kXipcAddrSize), 0) << std::strerror(errno);
    return fd;
  }
  // Receives one frame on fd into buf; the sender address lands in src.
  static ssize_t recv_frame(int fd, char* buf, std::size_t len, XipcAddr& src) {
    socklen_t srclen = kXipcAddrSize;
    EXPECT_TRUE(readable(fd));
    ssize_t n = xipc_recvfrom(fd, buf, len, 0, &src, &srclen);
    EXPECT_EQ(srclen, kXipcAddrSize);
    return n;
  }
  std::vector<int> xipc_fds_;
};

TEST_F(XipcTest, OnlyFamily31DatagramSocketsBindAndCloseRemovesTheEndpoint) {
  for (auto [family, type] : {std::pair{AF_INET, SOCK_DGRAM}, {AF_XIPC, SOCK_STREAM}}) {
    errno = 0;
    EXPECT_EQ(xipc_socket(family, type, 0), -1);
    EXPECT_EQ(errno, EAFNOSUPPORT);
  }
  std::string at = path("xipc/0.37.1024");
  { std::ofstream stale(at); }
  int fd = bound(endpoint(0, kXipcModuleDaemon, 1024));
  struct stat st;
  ASSERT_EQ(stat(at.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  std::erase(xipc_fds_, fd);
  EXPECT_EQ(xipc_close(fd), 0);
  EXPECT_FALSE(exists(at));
}

TEST_F(XipcTest, FrameStartsWithTheSendersAddressZeroWhenUnbound) {
  int dpp = peer(path("xipc/4.39.0"));
  int sd = bound(endpoint(0, kXipcModuleDaemon, 1024));
  XipcAddr dst = endpoint(4, kXipcModulePortDebug, 0, kXipcOpcodePortDebug, 616);
  ASSERT_EQ(xipc_sendto(sd, "PAYLOAD", 7, 0, &dst, kXipcAddrSize), 7);
  EXPECT_EQ(receive(dpp), (Bytes{0x00, 0x1F,              // family 31
                                 0x00, 0x00,              // core 0
                                 0x00, 0x25,              // module 37
                                 0x00, 0x58,              // opcode 88, from the destination
                                 0, 0, 0, 0, 0, 0,        // zero
                                 0x02, 0x68,              // length 616, from the destination
                                 0x04, 0x00,              // port 1024
                                 0, 0,                    // zero
                                 'P', 'A', 'Y', 'L', 'O', 'A', 'D'}));
  int unbound = open_socket();
  dst = endpoint(4, kXipcModuleDppLog, 0, kXipcOpcodeDppLogFlags, 472);
  int log = peer(path("xipc/4.66.0"));
  ASSERT_EQ(xipc_sendto(unbound, "", 0, 0, &dst, kXipcAddrSize), 0);
  EXPECT_EQ(receive(log), (Bytes{0x00, 0x1F, 0, 0, 0, 0, 0x00, 0x21, 0, 0, 0, 0, 0, 0, 0x01, 0xD8,
                                 0, 0, 0, 0}));
}

// The zero-padding that makes in-place reads of any frame safe.
TEST_F(XipcTest, ReceiveSplitsAddressAndPayloadCutsTheExcessAndPadsShortFrames) {
  int sd = bound(endpoint(0, kXipcModuleDaemon, 1024));
  int dpp = bound(endpoint(8, kXipcModulePortDebug, 5));
  XipcAddr to_daemon = endpoint(0, kXipcModuleDaemon, 1024, kXipcOpcodePortDebug, 11);
  ASSERT_EQ(xipc_sendto(dpp, "hello world", 11, 0, &to_daemon, kXipcAddrSize), 11);
  ASSERT_EQ(xipc_sendto(dpp, "hello world", 11, 0, &to_daemon, kXipcAddrSize), 11);
  char buf[64] = {};
  XipcAddr src{};
  ASSERT_EQ(recv_frame(sd, buf, 5, src), 5);
  EXPECT_EQ(std::string(buf, 6), std::string("hello\0", 6));
  EXPECT_EQ(src.port, 5);  // every other field: the short frames below
  // The cut part is gone with its datagram; the next receive is whole.
  ASSERT_EQ(recv_frame(sd, buf, sizeof buf, src), 11);
  EXPECT_EQ(std::string(buf, 11), "hello world");

  int raw = peer();
  Bytes full = {0x00, 0x1F, 0x00, 0x04, 0x02, 0x27, 0x00, 0x58, 1, 2,
                3,    4,    5,    6,    0x01, 0x02, 0x03, 0x04, 7, 8};
  for (std::size_t len = 0; len <= kXipcAddrSize; ++len) {
    Bytes part(full.begin(), full.begin() + static_cast<long>(len)), padded = part;
    padded.resize(kXipcAddrSize, 0);
    send_to(raw, path("xipc/0.37.1024"), part);
    std::memset(&src, 0xAA, sizeof src);
    ASSERT_EQ(recv_frame(sd, buf, sizeof buf, src), 0) << len;
    EXPECT_EQ(src.family, wire::get_u16(padded, 0)) << len;
    EXPECT_EQ(src.core, wire::get_u16(padded, 2)) << len;
    EXPECT_EQ(src.module, wire::get_u16(padded, 4)) << len;
    EXPECT_EQ(src.opcode, wire::get_u16(padded, 6)) << len;
    EXPECT_EQ(src.length, wire::get_u16(padded, 14)) << len;
    EXPECT_EQ(src.port, wire::get_u16(padded, 16)) << len;
  }
}

TEST_F(XipcTest, SendToAnAbsentOrFullEndpointFailsAtOnce) {
  int sd = bound(endpoint(0, kXipcModuleDaemon, 1024));
  XipcAddr dst = endpoint(12, kXipcModuleDppLog, 0, kXipcOpcodeDppLogFlags, 472);
  errno = 0;
  EXPECT_EQ(xipc_sendto(sd, "x", 1, 0, &dst, kXipcAddrSize), -1);
  EXPECT_EQ(errno, ENOENT);
  int gone = socket(AF_UNIX, SOCK_DGRAM, 0);  // a socket file whose owner is gone
  sockaddr_un a = addr(path("xipc/12.66.0"));
  ASSERT_EQ(bind(gone, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  close(gone);
  EXPECT_EQ(xipc_sendto(sd, "x", 1, 0, &dst, kXipcAddrSize), -1);
  EXPECT_EQ(errno, ECONNREFUSED);

  peer(path("xipc/4.66.0"));  // never reads
  dst.core = 4;
  std::string payload(472, 'f');
  auto start = std::chrono::steady_clock::now();
  ssize_t result = 0;
  int sent = 0;
  for (; sent < 100000 && result >= 0; ++sent)
    result = xipc_sendto(sd, payload.data(), payload.size(), 0, &dst, kXipcAddrSize);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_GT(sent, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// (Failing xipc_socket and xipc_bind is driven through the daemon end to end.)
TEST_F(XipcTest, FailListFailsSendAndReceiveOnce) {
  use_env("DRAVIK_FAIL", "xipc_sendto@1,xipc_recvfrom@1");
  XipcAddr own = endpoint(0, kXipcModuleDaemon, 1024);
  int sd = bound(own);
  errno = 0;
  EXPECT_EQ(xipc_sendto(sd, "x", 1, 0, &own, kXipcAddrSize), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(xipc_sendto(sd, "y", 1, 0, &own, kXipcAddrSize), 1);
  char buf[4];
  XipcAddr src;
  errno = 0;
  EXPECT_EQ(recv_frame(sd, buf, sizeof buf, src), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(recv_frame(sd, buf, sizeof buf, src), 1);
  EXPECT_EQ(buf[0], 'y');
}

}  // namespace
