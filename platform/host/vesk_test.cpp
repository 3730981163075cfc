#include "platform/vesk.h"

#include <sys/stat.h>

#include <chrono>
#include <memory>

#include "platform/host/test_support.h"
#include "wire/vesk_frame.h"

namespace {

using host_test::Bytes;

constexpr int kSap = 930;

class VeskTest : public host_test::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    msg_ = std::make_unique<vesk_msg_t>();
  }
  void TearDown() override {
    if (q_ >= 0) vesk_unbind(q_, 0);
    PlatformTest::TearDown();
  }

  int bind_sap() {
    q_ = vesk_bind(2, kSap, nullptr, "RECV");
    EXPECT_GE(q_, 0) << std::strerror(errno);
    return q_;
  }

  std::string sap_path() const { return path("vesk/930"); }

  // Sends raw bytes from `from` to the SAP and receives them with vesk_recv.
  int deliver(int from, const Bytes& datagram) {
    send_to(from, sap_path(), datagram);
    EXPECT_TRUE(readable(q_));
    return vesk_recv(q_, msg_.get(), 0);
  }

  static Bytes request(std::uint32_t opcode, std::uint32_t flags, std::uint32_t tag,
                       const std::string& payload) {
    wire::VeskRequestFrame f;
    f.opcode = opcode;
    f.flags = flags;
    f.tag = tag;
    f.payload.assign(payload.begin(), payload.end());
    return wire::encode_vesk_request(f);
  }

  bool payload_zero_from(std::size_t from) const {
    for (std::size_t i = from; i < sizeof msg_->payload; ++i)
      if (msg_->payload[i] != 0) return false;
    return true;
  }

  int q_ = -1;
  std::unique_ptr<vesk_msg_t> msg_;
};

TEST_F(VeskTest, BindMakesAGroupOnlySocketInAGroupOnlyDirectory) {
  bind_sap();
  struct stat st;
  ASSERT_EQ(stat(sap_path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  for (const char* sub : {"", "vesk", "vesk/reg", "corvan", "dbgfac", "xipc"}) {
    ASSERT_EQ(stat(path(sub).c_str(), &st), 0) << sub;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << sub;
    if (*sub != '\0') {
      EXPECT_EQ(st.st_mode & 0777, 0750u) << sub;
    }
  }
}

TEST_F(VeskTest, BindReplacesAStaleSocketFile) {
  { std::ofstream stale(path("vesk/930")); }
  bind_sap();
  int client = peer(path("client"));
  EXPECT_EQ(deliver(client, request(1, 0, 0, "x")), 1);
}

TEST_F(VeskTest, RequestFieldsReachTheRecordAndTheReplyCarriesOpcodeAndTag) {
  bind_sap();
  int client = peer(path("client"));
  ASSERT_EQ(deliver(client, request(5000, 3, 0xA1B2C3D4, "hello")), 5);
  EXPECT_EQ(msg_->opcode, 5000u);
  EXPECT_EQ(vesk_opc_get(msg_.get()), 5000u);
  EXPECT_EQ(msg_->flags, 3u);
  EXPECT_NE(vesk_is_reject(msg_.get()), 0);
  EXPECT_EQ(msg_->tag, 0xA1B2C3D4u);
  EXPECT_EQ(msg_->payload_len, 5);
  EXPECT_EQ(vesk_payload_get(msg_.get()), static_cast<void*>(msg_->payload));
  EXPECT_STREQ(reinterpret_cast<const char*>(msg_->payload), "hello");
  EXPECT_TRUE(payload_zero_from(5));

  ASSERT_EQ(vesk_send(q_, wire::kReplyHeaderBytes.data(), 0, "abc", 3, 0, msg_.get(), 0), 0);
  Bytes expected = {0xFE, 0,    0,    0,    0, 0, 0, 0,  // header as passed
                    0,    0,    0x13, 0x88,              // request opcode 5000
                    0xA1, 0xB2, 0xC3, 0xD4,              // request tag
                    'a',  'b',  'c'};
  EXPECT_EQ(receive(client), expected);

  // A reply without payload is the 16 bytes of header, opcode and tag.
  ASSERT_EQ(vesk_send(q_, wire::kReplyHeaderBytes.data(), 0, nullptr, 0, 0, msg_.get(), 0), 0);
  wire::VeskReplyFrame r = wire::decode_vesk_reply(receive(client));
  EXPECT_EQ(r.header, wire::kReplyHeaderBytes);
  EXPECT_EQ(r.opcode, 5000u);
  EXPECT_EQ(r.tag, 0xA1B2C3D4u);
  EXPECT_TRUE(r.payload.empty());
}

TEST_F(VeskTest, AcceptMessageIsNotAReject) {
  bind_sap();
  int client = peer(path("client"));
  deliver(client, request(922, 2, 1, ""));
  EXPECT_EQ(vesk_is_reject(msg_.get()), 0);
}

TEST_F(VeskTest, DatagramsShorterThanTheHeaderReadAsZeroPadded) {
  bind_sap();
  int client = peer(path("client"));
  Bytes full = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  for (std::size_t len = 0; len < full.size(); ++len) {
    Bytes padded(full.begin(), full.begin() + static_cast<long>(len));
    padded.resize(12, 0);
    std::memset(msg_->payload, 0x55, sizeof msg_->payload);
    ASSERT_EQ(deliver(client, Bytes(full.begin(), full.begin() + static_cast<long>(len))), 0)
        << len;
    EXPECT_EQ(msg_->opcode, wire::get_u32(padded, 0)) << len;
    EXPECT_EQ(msg_->flags, wire::get_u32(padded, 4)) << len;
    EXPECT_EQ(msg_->tag, wire::get_u32(padded, 8)) << len;
    EXPECT_EQ(msg_->payload_len, 0);
    EXPECT_TRUE(payload_zero_from(0)) << len;
  }
  // Spot check of the padding itself: 6 bytes give opcode 01020304, flags 05060000.
  deliver(client, Bytes(full.begin(), full.begin() + 6));
  EXPECT_EQ(msg_->opcode, 0x01020304u);
  EXPECT_EQ(msg_->flags, 0x05060000u);
  EXPECT_EQ(msg_->tag, 0u);
}

TEST_F(VeskTest, OversizeDatagramIsCutToTheLargestPayload) {
  bind_sap();
  int client = peer(path("client"));
  std::string big(VESK_MAX_PAYLOAD + 100, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  ASSERT_EQ(deliver(client, request(7, 0, 9, big)), VESK_MAX_PAYLOAD);
  EXPECT_EQ(std::memcmp(msg_->payload, big.data(), VESK_MAX_PAYLOAD), 0);
  EXPECT_EQ(msg_->payload[VESK_MAX_PAYLOAD], 0);
  EXPECT_EQ(msg_->tag, 9u);
}

TEST_F(VeskTest, ShortMessageAfterALongOneLeavesNoTraceOfIt) {
  bind_sap();
  int client = peer(path("client"));
  ASSERT_EQ(deliver(client, request(1, 0, 0, std::string(VESK_MAX_PAYLOAD, 'x'))),
            VESK_MAX_PAYLOAD);
  ASSERT_EQ(deliver(client, request(2, 0, 0, "ab")), 2);
  EXPECT_EQ(msg_->payload[0], 'a');
  EXPECT_EQ(msg_->payload[1], 'b');
  EXPECT_TRUE(payload_zero_from(2));
}

TEST_F(VeskTest, RegisterBitKeepsARegistrationFile) {
  bind_sap();
  std::string reg = path("vesk/reg/922/930");
  EXPECT_EQ(vesk_options_get(q_, 922), 0);
  int word = vesk_options_get(q_, 922);
  ASSERT_EQ(vesk_options_set(q_, 922, static_cast<std::uint16_t>(word | 0x10)), 0);
  EXPECT_EQ(vesk_options_get(q_, 922), 0x10);
  EXPECT_EQ(vesk_options_get(q_, 7521), 0);
  EXPECT_TRUE(exists(reg));
  EXPECT_EQ(read_file(reg), "");

  // Other bits of the word are kept but do not register.
  ASSERT_EQ(vesk_options_set(q_, 922, 0x0101), 0);
  EXPECT_EQ(vesk_options_get(q_, 922), 0x0101);
  EXPECT_FALSE(exists(reg));
}

TEST_F(VeskTest, UnbindRemovesSocketAndRegistrations) {
  bind_sap();
  for (std::uint32_t opcode : {922u, 7521u, 3102u})
    ASSERT_EQ(vesk_options_set(q_, opcode, 0x10), 0);
  ASSERT_TRUE(exists(path("vesk/reg/7521/930")));
  int fd = q_;
  ASSERT_EQ(vesk_unbind(q_, 0), 0);
  q_ = -1;
  EXPECT_FALSE(exists(sap_path()));
  for (const char* opcode : {"922", "7521", "3102"})
    EXPECT_FALSE(exists(path(std::string("vesk/reg/") + opcode + "/930"))) << opcode;
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  // The handle is gone: its option words too.
  EXPECT_EQ(vesk_options_get(fd, 922), -1);
}

TEST_F(VeskTest, UnbindOfAHandleThatIsNotABoundSapClosesNothing) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fds_.push_back(fds[0]);
  fds_.push_back(fds[1]);
  errno = 0;
  EXPECT_EQ(vesk_unbind(fds[0], 0), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_NE(fcntl(fds[0], F_GETFD), -1);

  int stdin_state = fcntl(0, F_GETFD);
  errno = 0;
  EXPECT_EQ(vesk_unbind(0, 0), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(fcntl(0, F_GETFD), stdin_state);

  bind_sap();
  int fd = q_;
  ASSERT_EQ(vesk_unbind(fd, 0), 0);
  q_ = -1;
  errno = 0;
  EXPECT_EQ(vesk_unbind(fd, 0), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(VeskTest, ReplyToASenderWithoutAddressFails) {
  bind_sap();
  int anonymous = peer();
  ASSERT_EQ(deliver(anonymous, request(5001, 0, 1, "")), 0);
  EXPECT_EQ(vesk_send(q_, wire::kReplyHeaderBytes.data(), 0, "x", 1, 0, msg_.get(), 0), -1);
}

TEST_F(VeskTest, ReplyToASenderThatIsGoneFails) {
  bind_sap();
  int client = peer(path("client"));
  ASSERT_EQ(deliver(client, request(5001, 0, 1, "")), 0);
  unlink(path("client").c_str());
  EXPECT_EQ(vesk_send(q_, wire::kReplyHeaderBytes.data(), 0, "x", 1, 0, msg_.get(), 0), -1);
  EXPECT_EQ(vesk_errno_get(q_), ENOENT);
}

TEST_F(VeskTest, ReplyToAFullQueueFailsAtOnceWithEagain) {
  bind_sap();
  int client = peer(path("client"));  // never reads
  ASSERT_EQ(deliver(client, request(5001, 0, 1, "")), 0);
  std::string payload(5000, 'r');
  auto start = std::chrono::steady_clock::now();
  int result = 0;
  int sent = 0;
  for (; sent < 100000 && result == 0; ++sent)
    result = vesk_send(q_, wire::kReplyHeaderBytes.data(), 0, payload.data(),
                       static_cast<int>(payload.size()), 0, msg_.get(), 0);
  int err = errno;
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, EAGAIN);
  EXPECT_EQ(vesk_errno_get(q_), EAGAIN);
  EXPECT_GT(sent, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(VeskTest, DropMakesTheRecordUnfitForAReply) {
  bind_sap();
  int client = peer(path("client"));
  deliver(client, request(1, 0, 0, ""));
  EXPECT_EQ(vesk_drop(q_, msg_.get()), 0);
  EXPECT_EQ(vesk_send(q_, wire::kReplyHeaderBytes.data(), 0, nullptr, 0, 0, msg_.get(), 0), -1);
}

TEST(VeskNames, DaemonOpcodesHaveTheirNamesOthersTheirNumber) {
  EXPECT_STREQ(vesk_opc_name_get(7521), "DPP_UP");
  EXPECT_STREQ(vesk_opc_name_get(7522), "DPP_DOWN");
  EXPECT_STREQ(vesk_opc_name_get(7571), "DPP_DNLD_NEW_FEATURE_RQST");
  EXPECT_STREQ(vesk_opc_name_get(7572), "DPP_DNLD_NEW_FEATURE_COMPLETE");
  EXPECT_STREQ(vesk_opc_name_get(7573), "DPP_DNLD_NEW_FEATURE_FAILED");
  EXPECT_STREQ(vesk_opc_name_get(5000), "SET_DEBUG");
  EXPECT_STREQ(vesk_opc_name_get(5001), "SHOW_DEBUG");
  EXPECT_STREQ(vesk_opc_name_get(3102), "VESK_OPC_CLOCK_SET_TIMEZONE_NOTIF");
  EXPECT_STREQ(vesk_opc_name_get(922), "OPC_922");
  EXPECT_STREQ(vesk_opc_name_get(0), "OPC_0");
  EXPECT_STREQ(vesk_opc_name_get(4294967295u), "OPC_4294967295");
}

}  // namespace
