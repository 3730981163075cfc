// VESK, and the system manager that reads its messages from VESK records.
#include "platform/vesk.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "platform/corvan.h"
#include "platform/host/test_support.h"
#include "wire/vesk_frame.h"

namespace {

using host_test::Bytes;

class VeskTest : public host_test::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    { std::ofstream stale(path("vesk/930")); }  // a stale socket file is replaced
    q_ = vesk_bind(2, 930, nullptr, "RECV");
    ASSERT_GE(q_, 0) << std::strerror(errno);
    client_ = peer(path("client"));
  }
  void TearDown() override {
    if (q_ >= 0) vesk_unbind(q_, 0);
    PlatformTest::TearDown();
  }
  // Sends raw bytes from `from` (default: the bound client) to the SAP and
  // receives them with vesk_recv.
  int deliver(const Bytes& datagram, int from = -1) {
    send_to(from < 0 ? client_ : from, path("vesk/930"), datagram);
    EXPECT_TRUE(readable(q_));
    return vesk_recv(q_, msg_.get(), 0);
  }
  static Bytes request(std::uint32_t opcode, std::uint32_t flags, std::uint32_t tag,
                       const std::string& payload = "") {
    return wire::encode_vesk_request({opcode, flags, tag, Bytes(payload.begin(), payload.end())});
  }
  int reply(const std::string& payload) {
    return vesk_send(q_, wire::kReplyHeaderBytes.data(), 0, payload.data(),
                     static_cast<int>(payload.size()), 0, msg_.get(), 0);
  }
  bool payload_zero_from(std::size_t from) const {
    for (std::size_t i = from; i < sizeof msg_->payload; ++i)
      if (msg_->payload[i] != 0) return false;
    return true;
  }

  int q_ = -1;
  int client_ = -1;
  std::unique_ptr<vesk_msg_t> msg_ = std::make_unique<vesk_msg_t>();
};

TEST_F(VeskTest, RequestFieldsReachTheRecordAndTheReplyCarriesOpcodeAndTag) {
  ASSERT_EQ(deliver(request(5000, 3, 0xA1B2C3D4, "hello")), 5);
  EXPECT_EQ(vesk_opc_get(msg_.get()), 5000u);
  EXPECT_EQ(msg_->flags, 3u);
  EXPECT_NE(vesk_is_reject(msg_.get()), 0);
  EXPECT_EQ(msg_->tag, 0xA1B2C3D4u);
  EXPECT_EQ(vesk_payload_get(msg_.get()), static_cast<void*>(msg_->payload));
  EXPECT_STREQ(reinterpret_cast<const char*>(msg_->payload), "hello");

  ASSERT_EQ(reply("abc"), 0);
  EXPECT_EQ(receive(client_), (Bytes{0xFE, 0, 0, 0, 0, 0, 0, 0,  // header as passed
                                     0, 0, 0x13, 0x88,            // request opcode 5000
                                     0xA1, 0xB2, 0xC3, 0xD4,      // request tag
                                     'a', 'b', 'c'}));
  deliver(request(922, 2, 1));
  EXPECT_EQ(vesk_is_reject(msg_.get()), 0);
}

// The zero-padding that makes in-place reads of any datagram safe.
TEST_F(VeskTest, ShortDatagramsReadZeroPaddedAndLongOnesAreCut) {
  std::string big(VESK_MAX_PAYLOAD + 100, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  ASSERT_EQ(deliver(request(7, 0, 9, big)), VESK_MAX_PAYLOAD);
  EXPECT_EQ(std::memcmp(msg_->payload, big.data(), VESK_MAX_PAYLOAD), 0);
  EXPECT_EQ(msg_->payload[VESK_MAX_PAYLOAD], 0);
  // A short message after a long one leaves no trace of it.
  ASSERT_EQ(deliver(request(2, 0, 0, "ab")), 2);
  EXPECT_EQ(msg_->payload[1], 'b');
  EXPECT_TRUE(payload_zero_from(2));

  Bytes full = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  for (std::size_t len = 0; len < full.size(); ++len) {
    Bytes part(full.begin(), full.begin() + static_cast<long>(len)), padded = part;
    padded.resize(12, 0);
    std::memset(msg_->payload, 0x55, sizeof msg_->payload);
    ASSERT_EQ(deliver(part), 0) << len;
    EXPECT_EQ(msg_->opcode, wire::get_u32(padded, 0)) << len;
    EXPECT_EQ(msg_->flags, wire::get_u32(padded, 4)) << len;
    EXPECT_EQ(msg_->tag, wire::get_u32(padded, 8)) << len;
    EXPECT_TRUE(payload_zero_from(0)) << len;
  }
}

TEST_F(VeskTest, RegisterBitKeepsARegistrationFileUntilClearedOrUnbound) {
  std::string reg = path("vesk/reg/922/930");
  EXPECT_EQ(vesk_options_get(q_, 922), 0);
  ASSERT_EQ(vesk_options_set(q_, 922, 0x10), 0);
  EXPECT_EQ(vesk_options_get(q_, 922), 0x10);
  EXPECT_EQ(vesk_options_get(q_, 7521), 0);
  EXPECT_TRUE(exists(reg));
  EXPECT_EQ(read_file(reg), "");
  ASSERT_EQ(vesk_options_set(q_, 922, 0x0101), 0);  // other bits are kept but do not register
  EXPECT_EQ(vesk_options_get(q_, 922), 0x0101);
  EXPECT_FALSE(exists(reg));

  for (std::uint32_t opcode : {922u, 7521u}) ASSERT_EQ(vesk_options_set(q_, opcode, 0x10), 0);
  int fd = q_;
  ASSERT_EQ(vesk_unbind(q_, 0), 0);
  q_ = -1;
  for (const char* gone : {"vesk/930", "vesk/reg/922/930", "vesk/reg/7521/930"})
    EXPECT_FALSE(exists(path(gone))) << gone;
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(vesk_options_get(fd, 922), -1);

  // A handle that is not a bound SAP of this process is left alone.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fds_.insert(fds_.end(), {fds[0], fds[1]});
  int stdin_state = fcntl(0, F_GETFD);
  for (int handle : {fd, fds[0], 0}) {
    errno = 0;
    EXPECT_EQ(vesk_unbind(handle, 0), -1) << handle;
    EXPECT_EQ(errno, EBADF) << handle;
  }
  EXPECT_NE(fcntl(fds[0], F_GETFD), -1);
  EXPECT_EQ(fcntl(0, F_GETFD), stdin_state);
}

TEST_F(VeskTest, ReplyToAnUnreachableSenderOrAFullQueueFailsAtOnce) {
  ASSERT_EQ(deliver(request(5001, 0, 1), peer()), 0);  // anonymous sender
  EXPECT_EQ(reply("x"), -1);
  ASSERT_EQ(deliver(request(5001, 0, 1)), 0);
  EXPECT_EQ(vesk_drop(q_, msg_.get()), 0);
  EXPECT_EQ(reply(""), -1);
  ASSERT_EQ(deliver(request(5001, 0, 1)), 0);
  unlink(path("client").c_str());
  EXPECT_EQ(reply("x"), -1);
  EXPECT_EQ(vesk_errno_get(q_), ENOENT);

  int silent = peer(path("silent"));  // never reads
  ASSERT_EQ(deliver(request(5001, 0, 1), silent), 0);
  auto start = std::chrono::steady_clock::now();
  int result = 0, sent = 0;
  for (; sent < 100000 && result == 0; ++sent) result = reply(std::string(5000, 'r'));
  EXPECT_EQ(result, -1);
  EXPECT_EQ(vesk_errno_get(q_), EAGAIN);
  EXPECT_GT(sent, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(VeskTest, OnlyTheManagersMessagesAreDispatchedAndLogged) {
  auto dispatch = [&](std::uint32_t opcode, std::uint32_t flags, const Bytes& payload) {
    EXPECT_EQ(deliver(wire::encode_vesk_request({opcode, flags, 0, payload})),
              static_cast<int>(payload.size()));
    return corvan_dispatch(msg_.get());
  };
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

TEST_F(VeskTest, HeartbeatFileHoldsCountAndLastPmWrittenInPlace) {
  auto line = [](unsigned long long count, int pm) {
    char text[64];
    std::snprintf(text, sizeof text, "%020llu %011d\n", count, pm);
    return std::string(text);
  };
  {
    std::ofstream old(path("corvan/heartbeats"));  // replaced at the first heartbeat
    old << std::string(100, '9');
  }
  for (int i = 0; i < 3; ++i) corvan_keep_alive(2147483647, 0);
  EXPECT_EQ(read_file(path("corvan/heartbeats")), line(3, 2147483647));
  corvan_keep_alive(-2147483647 - 1, 0);
  EXPECT_EQ(read_file(path("corvan/heartbeats")), line(4, -2147483647 - 1));
  // Moved away, the file still receives the later heartbeats: they are
  // written through the mapping, not by path.
  ASSERT_EQ(rename(path("corvan/heartbeats").c_str(), path("moved").c_str()), 0);
  corvan_keep_alive(4, 0);
  EXPECT_EQ(read_file(path("moved")), line(5, 4));
  EXPECT_FALSE(exists(path("corvan/heartbeats")));
}

TEST(VeskNames, DaemonOpcodesHaveTheirNamesOthersTheirNumber) {
  const std::vector<std::pair<std::uint32_t, const char*>> names = {
      {7521, "DPP_UP"}, {7522, "DPP_DOWN"}, {7571, "DPP_DNLD_NEW_FEATURE_RQST"},
      {7572, "DPP_DNLD_NEW_FEATURE_COMPLETE"}, {7573, "DPP_DNLD_NEW_FEATURE_FAILED"},
      {5000, "SET_DEBUG"}, {5001, "SHOW_DEBUG"}, {3102, "VESK_OPC_CLOCK_SET_TIMEZONE_NOTIF"},
      {922, "OPC_922"}, {4294967295u, "OPC_4294967295"}};
  for (const auto& [opcode, name] : names) EXPECT_STREQ(vesk_opc_name_get(opcode), name);
}

}  // namespace
