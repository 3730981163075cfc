// Input the DPP debug log manager must survive: names and texts as long as
// the message service carries, requests that cannot be answered, DPP indexes
// and cores beyond any DPP of the card. After each, the daemon still answers
// and its state is what the valid requests made it. (Cores beyond the card
// are checked with the log files.)
#include <string>
#include <vector>

#include "tests/dpplog_e2e_support.h"

namespace e2e {
namespace {

constexpr std::size_t kMaxPayload = wire::vesk_frame::kMaxPayload;

// A SET_DEBUG of the type given whose name fills the whole payload, with no
// NUL of its own.
Buf unterminated(std::uint8_t type, std::uint8_t on) {
  Buf p(kMaxPayload, 'n');
  p[0] = type;
  p[1] = on;
  p[2] = 0;
  return p;
}

TEST(DppLogRobustTest, LongAndUnterminatedNamesAreHandledWithinBounds) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  for (std::uint8_t type : {1, 2, 4}) {
    EXPECT_TRUE(answered(d, unterminated(type, 1))) << int(type);
    EXPECT_TRUE(answered(d, unterminated(type, 0))) << int(type);
  }
  // A base name longer than any path: no file, no link, nothing outside.
  const std::string long_name(5000, 'L');
  EXPECT_TRUE(answered(d, {.type = 4, .on = 1, .name = long_name}));
  // A name longer than the platform's terminal paths is not added.
  EXPECT_TRUE(answered(d, {.type = 1, .on = 1, .flag = 5, .name = long_name}));
  EXPECT_TRUE(client::dbgfac_vtys(d.platform()).empty());
  // A time zone text that fills the payload.
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 3102, Buf(kMaxPayload, 'Z')), 0);
  EXPECT_EQ(show_report(d), std::string(kHead) + "\n\nmemory management is on\n");
  EXPECT_TRUE(d.running());
}

TEST(DppLogRobustTest, RequestsThatCannotBeAnsweredOrAreRejected) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  // No address to reply to: handled all the same.
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 5000,
                                 wire::encode_set_debug({.type = 3, .level = 2, .name = ""})),
            0);
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 5001, {}), 0);
  // A rejected show is neither handled nor answered.
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 5001, {}, wire::vesk_frame::kFlagReject), 0);
  // Empty and short payloads read as zeros.
  EXPECT_TRUE(answered(d, Buf{}));
  EXPECT_TRUE(answered(d, Buf{3}));
  ASSERT_TRUE(d.wait_idle(6));
  EXPECT_EQ(d.stdout_count("\n Display output files map:"), 1u);
  EXPECT_EQ(d.stdout_count("DPPDEBUG_MGR_ERR: Unknown SET_DEBUG type 0\n\n"), 1u);
  EXPECT_EQ(d.stdout_count("DPPDEBUG_MGR_INFO: Debug level changed to "), 2u);
  EXPECT_EQ(show_report(d), "\nDebug level: 0 (EMERG)\n\nDPP instances: \n\n");
}

TEST(DppLogRobustTest, IndexesBeyondTheCardNameNoDpp) {
  Session s;
  client::FakeDppEndpoint dpp1(s.d.platform(), log_service(1));
  s.set_debug({.type = 1, .on = 1, .all = 1, .name = ""});
  s.set_debug({.type = 2, .on = 1, .all = 1, .name = ""});
  dpp1.drain();

  // Indexes 255 down to 32: none is a DPP.
  wire::DnldFeatureRqst rqst{.feature = wire::kFeaturePlinderOff, .count = 224, .dpps = {}};
  for (int i = 0; i < 224; ++i) rqst.dpps[i] = static_cast<std::uint8_t>(255 - i);
  wire::DnldFeatureComplete done{.feature = 7, .count = 255, .entries = {}};
  for (int i = 0; i < 255; ++i)
    done.entries[i] = {static_cast<std::uint16_t>(0xFFFF - i * 257), 2};
  done.entries[254] = {31, 2};
  // One at a time: the daemon's queue holds only a few datagrams.
  for (std::uint32_t index : {4u, 31u, 32u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    s.notify(7521, wire::encode_dpp_index(index));
    s.notify(7522, wire::encode_dpp_index(index));
  }
  s.notify(7571, wire::encode_feature_rqst(rqst));
  s.notify(7572, wire::encode_feature_complete(done));
  // Nothing reached DPP 1, and the instances are the card's four.
  EXPECT_TRUE(dpp1.drain().empty());
  EXPECT_TRUE(s.show().starts_with(std::string(kHead) + "1 2 3 4 \n\n"));
}

}  // namespace
}  // namespace e2e
