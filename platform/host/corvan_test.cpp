#include "platform/corvan.h"

#include <signal.h>

#include <cstdio>
#include <memory>

#include "platform/host/test_support.h"
#include "wire/vesk_frame.h"

namespace {

using host_test::Bytes;

std::string heartbeat_line(unsigned long long count, int pm) {
  char line[64];
  std::snprintf(line, sizeof line, "%020llu %011d\n", count, pm);
  return line;
}

class CorvanTest : public host_test::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    msg_ = std::make_unique<vesk_msg_t>();
  }
  void TearDown() override {
    if (q_ >= 0) vesk_unbind(q_, 0);
    PlatformTest::TearDown();
  }

  // Receives a request with the given flags and payload through a real SAP.
  vesk_msg_t* receive_request(std::uint32_t opcode, std::uint32_t flags, const Bytes& payload) {
    if (q_ < 0) q_ = vesk_bind(2, 930, nullptr, "RECV");
    EXPECT_GE(q_, 0);
    wire::VeskRequestFrame f;
    f.opcode = opcode;
    f.flags = flags;
    f.payload = payload;
    send_to(peer(), path("vesk/930"), wire::encode_vesk_request(f));
    EXPECT_TRUE(readable(q_));
    EXPECT_EQ(vesk_recv(q_, msg_.get(), 0), static_cast<int>(payload.size()));
    return msg_.get();
  }

  std::string log() const { return read_file(path("corvan/log")); }
  std::string heartbeats() const { return read_file(path("corvan/heartbeats")); }

  int q_ = -1;
  std::unique_ptr<vesk_msg_t> msg_;
};

TEST_F(CorvanTest, HandshakeIsLogged) {
  corvan_handshake(5, 84);
  corvan_handshake(5, 7);
  EXPECT_EQ(log(), "handshake 84\nhandshake 7\n");
}

TEST_F(CorvanTest, MessageWithoutTheManagersFlagIsNotItsOwn) {
  EXPECT_EQ(corvan_dispatch(receive_request(922, 1, {0, 0, 0, 5})), -1);
  EXPECT_FALSE(exists(path("corvan/log")));
}

TEST_F(CorvanTest, ManagersMessageReturnsItsFirstPayloadWordSigned) {
  EXPECT_EQ(corvan_dispatch(receive_request(77, 2, {0xFF, 0xFF, 0xFF, 0xFE, 9})), -2);
  EXPECT_EQ(corvan_dispatch(receive_request(78, 3, {0, 0, 0, 7})), 7);
  EXPECT_EQ(corvan_dispatch(receive_request(79, 2, {})), 0);
  // A payload shorter than a word reads as zero-padded.
  EXPECT_EQ(corvan_dispatch(receive_request(80, 2, {0, 1})), 0x00010000);
  EXPECT_EQ(log(), "dispatch 77 -2\ndispatch 78 7\ndispatch 79 0\ndispatch 80 65536\n");
}

TEST_F(CorvanTest, HeartbeatFileHoldsCountAndLastPm) {
  for (int i = 0; i < 3; ++i) corvan_keep_alive(7, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(3, 7));
  corvan_keep_alive(-5, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(4, -5));
  EXPECT_EQ(heartbeats().size(), 33u);
  for (int i = 0; i < 996; ++i) corvan_keep_alive(2147483647, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(1000, 2147483647));
  corvan_keep_alive(-2147483647 - 1, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(1001, -2147483647 - 1));
}

TEST_F(CorvanTest, FirstHeartbeatReplacesAnOldFile) {
  {
    std::ofstream old(path("corvan/heartbeats"));
    old << std::string(100, '9');
  }
  corvan_keep_alive(1, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(1, 1));
}

TEST_F(CorvanTest, HeartbeatsUpdateTheMappedFileWithoutReopeningIt) {
  corvan_keep_alive(3, 0);
  // Moved away after the first heartbeat, the file still receives the later
  // ones: they are written through the mapping, not by path.
  ASSERT_EQ(rename(path("corvan/heartbeats").c_str(), path("moved").c_str()), 0);
  corvan_keep_alive(3, 0);
  corvan_keep_alive(4, 0);
  EXPECT_EQ(read_file(path("moved")), heartbeat_line(3, 4));
  EXPECT_FALSE(exists(path("corvan/heartbeats")));
}

extern "C" void heartbeat_on_hup(int) { corvan_keep_alive(9, 0); }

TEST_F(CorvanTest, HeartbeatFromASignalHandlerIsCounted) {
  corvan_keep_alive(9, 0);
  struct sigaction sa {
  }, old{};
  sa.sa_handler = heartbeat_on_hup;
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(sigaction(SIGHUP, &sa, &old), 0);
  for (int i = 0; i < 5; ++i) raise(SIGHUP);
  sigaction(SIGHUP, &old, nullptr);
  EXPECT_EQ(heartbeats(), heartbeat_line(6, 9));
}

}  // namespace
