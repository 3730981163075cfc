#include "portdebug/port_request.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>

#include "frame/frame.h"
#include "portdebug/cmd_table.h"
#include "portdebug/test_support.h"
#include "portdebug/vty_map.h"
#include "wire/debug_request.h"
#include "wire/vesk_frame.h"

namespace {

using relay_test::DppFlagEndpoint;
using relay_test::make_terminal_file;

constexpr std::uint32_t kRequestOpcode = 4321;
constexpr std::uint32_t kTag = 77;

wire::DebugRequest request(std::int32_t id, std::uint8_t port, std::uint8_t no_flag,
                           const std::string& term) {
  wire::DebugRequest r;
  r.commandID = id;
  r.port = port;
  r.noFlag = no_flag;
  std::memcpy(r.term, term.data(), std::min(term.size(), sizeof r.term - 1));
  return r;
}

// One run of the handler: what it printed and what the requester got back.
struct Outcome {
  std::string out, err;
  std::optional<wire::VeskReplyFrame> reply;
};

class PortRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    relay_test::reset_map();
    relay_test::ensure_xipc_socket();
    if (q <= 0) {
      const unsigned char bind_addr[24] = {};
      q = vesk_bind(2, 930, bind_addr, "RECV");
      ASSERT_GT(q, 0) << std::strerror(errno);
    }
    dir_ = relay_test::scratch_dir();
    term_a_ = make_terminal_file(dir_ + "/a");
    term_b_ = make_terminal_file(dir_ + "/b");
    client_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client_, 0);
    sockaddr_un me = unix_addr(dir_ + "/client");
    ASSERT_EQ(bind(client_, reinterpret_cast<sockaddr*>(&me), sizeof me), 0);
  }
  void TearDown() override {
    if (client_ >= 0) close(client_);
    relay_test::reset_map();
  }

  static sockaddr_un unix_addr(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    return a;
  }

  // Sends the request as a requester would, lets the daemon receive it and
  // hands it to the handler.
  Outcome handle(const wire::DebugRequest& r, bool requester_leaves = false) {
    wire::VeskRequestFrame f;
    f.opcode = kRequestOpcode;
    f.tag = kTag;
    f.payload = wire::encode_debug_request(r);
    const auto bytes = wire::encode_vesk_request(f);
    sockaddr_un sap = unix_addr(relay_test::platform_dir() + "/vesk/930");
    EXPECT_EQ(sendto(client_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sap),
                     sizeof sap),
              static_cast<ssize_t>(bytes.size()));
    static vesk_msg_t msg;
    EXPECT_GE(vesk_recv(q, &msg, 0), 0);
    if (requester_leaves) {
      close(client_);
      client_ = -1;
      unlink((dir_ + "/client").c_str());
    }
    Outcome o;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(handlePortDebugRequest(q, &msg), 0);
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    if (client_ >= 0) {
      pollfd p{client_, POLLIN, 0};
      if (poll(&p, 1, 2000) == 1) {
        std::uint8_t in[8192];
        ssize_t n = recv(client_, in, sizeof in, 0);
        if (n >= 0) o.reply = wire::decode_vesk_reply(wire::Bytes(in, static_cast<std::size_t>(n)));
      }
    }
    return o;
  }

  static std::string map_line(int index) {
    const VTYmapElement& row = cmdVTYmap[index];
    return "Index: " + std::to_string(index) + "   mask: " +
           std::to_string(static_cast<std::int32_t>(row.mask)) + "   module: " +
           std::to_string(row.module) + "   Port: " + std::to_string(row.port) +
           "  VTY: " + row.vty + "  VTYfd: " + std::to_string(row.vtyfd) + "\n";
  }

  static void expect_empty_reply(const Outcome& o) {
    ASSERT_TRUE(o.reply);
    EXPECT_EQ(o.reply->header, wire::kReplyHeaderBytes);
    EXPECT_EQ(o.reply->opcode, kRequestOpcode);
    EXPECT_EQ(o.reply->tag, kTag);
    ASSERT_EQ(o.reply->payload.size(), 5000u);
    for (std::uint8_t b : o.reply->payload) ASSERT_EQ(b, 0);
  }

  std::string dir_, term_a_, term_b_;
  int client_ = -1;
};

TEST_F(PortRequest, SubscribeStoresTheTerminalAndSwitchesTheBitsOn) {
  DppFlagEndpoint core5(5);
  Outcome o = handle(request(42, 5, 0, term_a_));
  expect_empty_reply(o);
  EXPECT_EQ(cmdVTYmap[99].module, 77u);
  EXPECT_EQ(cmdVTYmap[99].mask, 0x6u);
  EXPECT_EQ(cmdVTYmap[99].port, 5u);
  EXPECT_EQ(o.out, "processVESKreq:*** Port: 5 CommandID: 42 NoFlag: 0  Term: " + term_a_ +
                       " ***\n\n" + map_line(99));
  auto on = core5.next();
  ASSERT_TRUE(on);
  EXPECT_EQ(on->msg.op, 1u);
  EXPECT_EQ(on->msg.mask, 0x6u);
  EXPECT_EQ(on->msg.module, 77u);

  // Bits the terminal already holds are still sent, with the command's whole mask.
  o = handle(request(41, 5, 0, term_a_));
  expect_empty_reply(o);
  EXPECT_EQ(cmdVTYmap[99].mask, 0x6u);
  on = core5.next();
  ASSERT_TRUE(on);
  EXPECT_EQ(on->msg.mask, 0x2u);
  EXPECT_TRUE(core5.idle());
}

TEST_F(PortRequest, SubscribeFromAnUnopenableTerminalStillSwitchesOn) {
  DppFlagEndpoint core0(0);
  const std::string gone = dir_ + "/gone";
  Outcome o = handle(request(2, 0, 0, gone));
  expect_empty_reply(o);
  EXPECT_EQ(o.err.rfind("open vty failed: ", 0), 0u);
  EXPECT_EQ(o.out, "processVESKreq:*** Port: 0 CommandID: 2 NoFlag: 0  Term: " + gone +
                       " ***\n\n");  // and no map line
  auto on = core0.next();
  ASSERT_TRUE(on);
  EXPECT_EQ(on->msg.op, 1u);
  EXPECT_EQ(on->msg.mask, 0x1u);
}

TEST_F(PortRequest, UnsubscribeSwitchesOffWhatTheLastRowDoesNotHold) {
  DppFlagEndpoint core0(0);
  handle(request(3, 0, 0, term_a_));  // row 99: 0x2
  handle(request(2, 0, 0, term_b_));  // row 98: 0x1
  while (!core0.idle()) core0.next();

  // Releasing b's 0x1: the last row of (55, 0) is a's, without 0x1: off.
  Outcome o = handle(request(2, 0, 1, term_b_));
  expect_empty_reply(o);
  EXPECT_EQ(cmdVTYmap[98].mask, 0u);
  auto off = core0.next();
  ASSERT_TRUE(off);
  EXPECT_EQ(off->msg.op, 2u);
  EXPECT_EQ(off->msg.mask, 0x1u);
  EXPECT_EQ(off->msg.module, 55u);

  // A terminal without a row asks for a's bit off: a's row still holds it.
  o = handle(request(3, 0, 1, term_b_));
  expect_empty_reply(o);
  EXPECT_TRUE(core0.idle());
  EXPECT_EQ(cmdVTYmap[99].mask, 0x2u);
}

TEST_F(PortRequest, UnsubscribeCarriesTheRequestsFilter) {
  DppFlagEndpoint core1(1);
  wire::DebugRequest r = request(25, 1, 1, term_a_);
  std::snprintf(r.init, sizeof r.init, "iqn.i");
  std::snprintf(r.tgt, sizeof r.tgt, "iqn.t");
  Outcome o = handle(r);
  expect_empty_reply(o);
  EXPECT_NE(o.out.find("getParameterFromRequest: Get parameter init iqn.i, tgt iqn.t\n"),
            std::string::npos);
  auto off = core1.next();
  ASSERT_TRUE(off);
  EXPECT_EQ(off->msg.op, 2u);
  EXPECT_EQ(off->msg.mask, 0x1u);
  EXPECT_EQ(off->msg.module, 66u);
  EXPECT_EQ(off->msg.sess_type, 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(off->msg.init.data()), "iqn.i");
  EXPECT_STREQ(reinterpret_cast<const char*>(off->msg.tgt.data()), "iqn.t");
}

TEST_F(PortRequest, ShowListsIntoTheReplyWhenTheTerminalCannotBeOpened) {
  DppFlagEndpoint core2(2);
  handle(request(59, 2, 0, term_a_));
  core2.next();
  Outcome o = handle(request(show_command, 0, 0, dir_ + "/no/such"));
  ASSERT_TRUE(o.reply);
  ASSERT_EQ(o.reply->payload.size(), 5000u);
  const std::string expected = "      vty(" + term_a_ + "):\n\tdebug nivo crypto flow port 3\n";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(o.reply->payload.data())), expected);
  EXPECT_EQ(o.out, map_line(99));  // the map is printed after a listing too
  EXPECT_TRUE(core2.idle());

  o = handle(request(show_command, 0, 0, term_b_));
  expect_empty_reply(o);
  EXPECT_EQ(relay_test::read_file(term_b_),
            "Other vty(" + term_a_ + "):\n\tdebug nivo crypto flow port 3\n");
}

TEST_F(PortRequest, IdsThatNameNoCommandAreAnsweredAndIgnored) {
  DppFlagEndpoint core0(0);
  handle(request(1, 0, 0, term_a_));
  core0.next();
  for (std::int32_t id : {0, 124, 125, 127, -1, -126, 100000}) {
    for (std::uint8_t no_flag : {0, 1}) {
      Outcome o = handle(request(id, 0, no_flag, term_b_));
      expect_empty_reply(o);
      EXPECT_EQ(o.out, "processVESKreq: CommandID " + std::to_string(id) +
                           " names no debug command, ignored\n" + map_line(99))
          << id;
      EXPECT_TRUE(core0.idle()) << id;
    }
  }
  EXPECT_EQ(cmdVTYmap[98].module, 0u);
  EXPECT_EQ(cmdVTYmap[99].mask, 0xFFFFFFFFu);
}

TEST_F(PortRequest, TerminalPathsThatDoNotFitAreNeverStored) {
  DppFlagEndpoint core0(0);
  // 100 characters end inside the field but not inside a map row: the row is
  // refused, and the DPP is still told, as for any terminal the map cannot keep.
  std::string long_path = dir_ + "/";
  long_path.append(100 - long_path.size(), 'L');
  make_terminal_file(long_path);
  Outcome o = handle(request(2, 0, 0, long_path));
  expect_empty_reply(o);
  EXPECT_EQ(o.out, "processVESKreq:*** Port: 0 CommandID: 2 NoFlag: 0  Term: " + long_path +
                       " ***\n\nstoreInMap: terminal path too long, not stored\n");
  EXPECT_TRUE(core0.next());

  // 106 bytes without a NUL inside the field.
  std::string unterminated = dir_ + "/";
  unterminated.append(106 - unterminated.size(), 'U');
  o = handle(request(2, 0, 0, unterminated));
  expect_empty_reply(o);
  EXPECT_EQ(o.out, "processVESKreq: terminal path too long, request ignored\n");
  EXPECT_TRUE(core0.idle());
  for (const VTYmapElement& row : cmdVTYmap) EXPECT_EQ(row.module | row.mask, 0u);
}

TEST_F(PortRequest, ReplyThatCannotBeSentKeepsTheRequestsEffects) {
  DppFlagEndpoint core3(3);
  Outcome o = handle(request(24, 3, 0, term_a_), /*requester_leaves=*/true);
  EXPECT_FALSE(o.reply);
  EXPECT_EQ(o.out, "processVESKreq:*** Port: 3 CommandID: 24 NoFlag: 0  Term: " + term_a_ +
                       " ***\n\nFailed to send response\n" + map_line(99));
  EXPECT_EQ(cmdVTYmap[99].module, 66u);
  EXPECT_TRUE(core3.next());
}

}  // namespace
