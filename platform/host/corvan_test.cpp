#include "platform/corvan.h"

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
  void TearDown() override {
    if (q_ >= 0) vesk_unbind(q_, 0);
    PlatformTest::TearDown();
  }

  // Dispatches a request with the given flags and payload, received through a real SAP.
  int dispatch(std::uint32_t opcode, std::uint32_t flags, const Bytes& payload) {
    if (q_ < 0) q_ = vesk_bind(2, 930, nullptr, "RECV");
    EXPECT_GE(q_, 0);
    send_to(peer(), path("vesk/930"), wire::encode_vesk_request({opcode, flags, 0, payload}));
    EXPECT_TRUE(readable(q_));
    EXPECT_EQ(vesk_recv(q_, msg_.get(), 0), static_cast<int>(payload.size()));
    return corvan_dispatch(msg_.get());
  }
  std::string heartbeats() const { return read_file(path("corvan/heartbeats")); }

  int q_ = -1;
  std::unique_ptr<vesk_msg_t> msg_ = std::make_unique<vesk_msg_t>();
};

TEST_F(CorvanTest, OnlyTheManagersMessagesAreDispatchedAndLogged) {
  EXPECT_EQ(dispatch(922, 1, {0, 0, 0, 5}), -1);
  EXPECT_FALSE(exists(path("corvan/log")));
  corvan_handshake(5, 84);
  EXPECT_EQ(dispatch(77, 2, {0xFF, 0xFF, 0xFF, 0xFE, 9}), -2);  // first word, signed
  EXPECT_EQ(dispatch(78, 3, {0, 0, 0, 7}), 7);
  EXPECT_EQ(dispatch(79, 2, {}), 0);
  EXPECT_EQ(dispatch(80, 2, {0, 1}), 0x00010000);  // read as zero-padded
  EXPECT_EQ(read_file(path("corvan/log")),
            "handshake 84\ndispatch 77 -2\ndispatch 78 7\ndispatch 79 0\ndispatch 80 65536\n");
}

TEST_F(CorvanTest, HeartbeatFileHoldsCountAndLastPmWrittenInPlace) {
  {
    std::ofstream old(path("corvan/heartbeats"));  // replaced at the first heartbeat
    old << std::string(100, '9');
  }
  for (int i = 0; i < 3; ++i) corvan_keep_alive(7, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(3, 7));
  corvan_keep_alive(-5, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(4, -5));
  for (int i = 0; i < 996; ++i) corvan_keep_alive(2147483647, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(1000, 2147483647));
  corvan_keep_alive(-2147483647 - 1, 0);
  EXPECT_EQ(heartbeats(), heartbeat_line(1001, -2147483647 - 1));
  EXPECT_EQ(heartbeats().size(), 33u);

  // Moved away, the file still receives the later heartbeats: they are
  // written through the mapping, not by path.
  ASSERT_EQ(rename(path("corvan/heartbeats").c_str(), path("moved").c_str()), 0);
  corvan_keep_alive(4, 0);
  EXPECT_EQ(read_file(path("moved")), heartbeat_line(1002, 4));
  EXPECT_FALSE(exists(path("corvan/heartbeats")));
}

}  // namespace
