// The DPP debug log manager's control side seen from outside: SET_DEBUG of
// every type with the DppFlagMsg each change sends and its empty reply, the
// terminal notifications, the show report's exact text, and the DPP up/down
// and feature-download notifications.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/dpplog_e2e_support.h"

namespace e2e {
namespace {

constexpr std::string_view kVty = "/dev/null";

// A daemon on a four-DPP card with a fake log service bound for every DPP
// (the start-up broadcast, which may come before the bind, is drained).
struct Manager : Session {
  std::array<std::unique_ptr<client::FakeDppEndpoint>, 4> dpp;

  Manager() {
    for (int n = 1; n <= 4; ++n)
      dpp[n - 1] = std::make_unique<client::FakeDppEndpoint>(d.platform(), log_service(n));
    sent_to();
  }

  // The DPPs (bit n-1 for DPP n) that were sent something since the last call.
  std::uint32_t sent_to() {
    std::uint32_t set = 0;
    for (int n = 1; n <= 4; ++n)
      if (!dpp[n - 1]->drain().empty()) set |= 1u << (n - 1);
    return set;
  }

  // Exactly the DPPs in `to` (bit n-1 for DPP n) were sent one DppFlagMsg
  // each, with the flags, level and filter blocks given; the others nothing.
  ::testing::AssertionResult got(std::uint32_t to, std::uint32_t flags, std::uint8_t level,
                                 const std::vector<std::pair<int, Filters>>& blocks = {}) {
    for (int n = 1; n <= 4; ++n) {
      if (to & 1u << (n - 1)) {
        if (auto ok = got_flags(*dpp[n - 1], flags, level, blocks); !ok)
          return ok << " (DPP " << n << ")";
      } else if (!dpp[n - 1]->drain().empty()) {
        return ::testing::AssertionFailure() << "DPP " << n << " was sent something";
      }
    }
    return ::testing::AssertionSuccess();
  }
};

wire::SetDebugRequest category(std::uint8_t on, std::uint8_t flag, Filters f = {},
                               std::string_view name = kVty) {
  return {.type = 1, .on = on, .flag = flag, .filters = f, .name = name};
}
wire::SetDebugRequest all_categories(std::uint8_t on, std::string_view name = kVty) {
  return {.type = 1, .on = on, .all = 1, .name = name};
}
wire::SetDebugRequest dpp_map(std::uint8_t on, std::uint32_t mask, std::uint8_t all = 0) {
  return {.type = 2, .on = on, .all = all, .dpp_mask = mask, .name = kVty};
}

std::string sending(std::uint32_t flags, int level, int dpp) {
  char line[96];
  std::snprintf(line, sizeof line, "DPPDEBUG_MGR_INFO: Sending flag 0x%X level %d to DPP %d\n",
                flags, level, dpp);
  return line;
}

bool vty_listed(const DaemonProcess& d, std::string_view vty) {
  const auto vtys = client::dbgfac_vtys(d.platform());
  return std::find(vtys.begin(), vtys.end(), vty) != vtys.end();
}

// --- SET_DEBUG --------------------------------------------------------------------

TEST(DppLogSetDebugTest, CategoriesWithOverrideAndFiltersReachTheMappedDpps) {
  Manager m;
  EXPECT_EQ(m.set_debug(dpp_map(1, 0x5)),
            "DPPDEBUG_MGR_INFO: new dppmap: 5\ndppmap is set:5"
            "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n");
  EXPECT_EQ(m.sent_to(), 0u) << "no category is on: a map change sends nothing";
  EXPECT_TRUE(vty_listed(m.d, kVty));

  const Filters f{1, 0, 0, 0x10};
  EXPECT_EQ(m.set_debug(category(1, 3, f)),
            "DPPDEBUG_MGR_INFO: Overriding flag 1 filters by 3\n"
            "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n"
            "\n setting flags cur_flag:5 dppmap:5" +
                sending(0x5, 6, 1) + sending(0x5, 6, 3));
  EXPECT_TRUE(m.got(0x5, 0x5, 6, {{1, f}, {3, f}}));
  EXPECT_EQ(m.show(), std::string(kHead) +
                          "1 3 \n\nrx ipc message is on\n"
                          "    filter 1 is 0x00000001 (1)\n    filter 4 is 0x00000010 (16)\n");

  // Category 1 off while 3 stays on: only bit 0 goes, nothing is notified.
  EXPECT_EQ(m.set_debug(category(0, 1)),
            "\n setting flags cur_flag:4 dppmap:5" + sending(0x4, 6, 1) + sending(0x4, 6, 3));
  EXPECT_TRUE(m.got(0x5, 0x4, 6, {{3, f}}));

  // Category 3 off takes the one it overrides with it.
  m.set_debug(category(1, 3, f));
  m.sent_to();
  EXPECT_EQ(m.set_debug(category(0, 3)),
            "DPPDEBUG_MGR_INFO: Turning off flag 1 (overridden by 3\n"
            "\n setting flags cur_flag:0 dppmap:5" +
                sending(0, 6, 1) + sending(0, 6, 3));
  EXPECT_TRUE(m.got(0x5, 0, 6));

  // All on: every category, every filter 0; all off keeps the filters,
  // removes the terminal and sends flags 0 to the map.
  const Filters g{0x80000000u, 0, 7, 0};
  m.set_debug(category(1, 5, g, "/dev/zero"));
  EXPECT_TRUE(m.got(0x5, 0x10, 6, {{5, g}}));
  EXPECT_TRUE(vty_listed(m.d, "/dev/zero"));
  EXPECT_EQ(m.set_debug(all_categories(1)),
            "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n"
            "\n setting flags cur_flag:536870911 dppmap:5" +
                sending(0x1FFFFFFF, 6, 1) + sending(0x1FFFFFFF, 6, 3));
  EXPECT_TRUE(m.got(0x5, 0x1FFFFFFF, 6, {{5, Filters{}}, {29, Filters{}}}));
  const std::string report = m.show();
  EXPECT_TRUE(report.starts_with(std::string(kHead) +
                                 "1 3 \n\nrx ipc message is on\ntx ipc message is on\n"
                                 "memory management is on\ndriver rx"))
      << report;
  EXPECT_TRUE(report.ends_with("galt km is on\nfsm is on\n")) << report;
  EXPECT_EQ(report.find("filter"), std::string::npos);
  EXPECT_EQ(m.set_debug(all_categories(0, "/dev/zero")),
            "DPPDEBUG_MGR_INFO: Notifying syslogd to remove vty /dev/zero\n"
            "\n setting flags cur_flag:0 dppmap:5" +
                sending(0, 6, 1) + sending(0, 6, 3));
  EXPECT_FALSE(vty_listed(m.d, "/dev/zero"));
  EXPECT_TRUE(vty_listed(m.d, kVty));
  EXPECT_TRUE(m.got(0x5, 0, 6));
  EXPECT_EQ(m.show(), std::string(kHead) + "1 3 \n\n");
}

TEST(DppLogSetDebugTest, MapChangesSendTurningOnAndOffPairs) {
  Manager m;
  const Filters f{0, 0, 0, 0x55};
  m.set_debug(category(1, 12, f));  // the map is empty: nothing is sent
  EXPECT_EQ(m.sent_to(), 0u);

  EXPECT_EQ(m.set_debug(dpp_map(1, 0x1)),
            "DPPDEBUG_MGR_INFO: new dppmap: 1\n"
            "DPPDEBUG_MGR_DBG: Turning on DPP map 1\n" +
                sending(0x800, 6, 1) +
                "DPPDEBUG_MGR_DBG: Turning off DPP map 0\n"
                "dppmap is set:1DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n");
  EXPECT_TRUE(m.got(0x1, 0x800, 6, {{12, f}}));

  EXPECT_EQ(m.set_debug(dpp_map(1, 0, 1)),
            "DPPDEBUG_MGR_INFO: new dppmap: F\n"
            "DPPDEBUG_MGR_DBG: Turning on DPP map E\n" +
                sending(0x800, 6, 2) + sending(0x800, 6, 3) + sending(0x800, 6, 4) +
                "DPPDEBUG_MGR_DBG: Turning off DPP map 0\n"
                "dppmap is set:15DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n");
  EXPECT_TRUE(m.got(0xE, 0x800, 6, {{12, f}}));

  // Removing some DPPs sends them empty flags and notifies nothing.
  EXPECT_EQ(m.set_debug(dpp_map(0, 0x6)),
            "DPPDEBUG_MGR_INFO: new dppmap: 9\n"
            "DPPDEBUG_MGR_DBG: Turning on DPP map 0\n"
            "DPPDEBUG_MGR_DBG: Turning off DPP map 6\n" +
                sending(0, 6, 2) + sending(0, 6, 3) + "dppmap is set:9");
  EXPECT_TRUE(m.got(0x6, 0, 6));

  // Bits beyond the card's DPPs change nothing.
  EXPECT_EQ(m.set_debug(dpp_map(1, 0xF0)),
            "DPPDEBUG_MGR_INFO: new dppmap: 9\ndppmap is set:9"
            "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n");
  EXPECT_EQ(m.sent_to(), 0u);
  EXPECT_EQ(m.show(), std::string(kHead) + "1 4 \n\nvirtualization state machine is on\n"
                                           "    filter 4 is 0x00000055 (85)\n");

  EXPECT_EQ(m.set_debug(dpp_map(0, 0, 1)),
            "DPPDEBUG_MGR_INFO: new dppmap: 0\n"
            "DPPDEBUG_MGR_DBG: Turning on DPP map 0\n"
            "DPPDEBUG_MGR_DBG: Turning off DPP map 9\n" +
                sending(0, 6, 1) + sending(0, 6, 4) +
                "dppmap is set:0DPPDEBUG_MGR_INFO: Notifying syslogd to remove vty /dev/null\n");
  EXPECT_TRUE(m.got(0x9, 0, 6));
  EXPECT_FALSE(vty_listed(m.d, kVty));
}

TEST(DppLogSetDebugTest, LevelGoesToTheMapAndIntoTheReport) {
  Manager m;
  m.set_debug(dpp_map(1, 0x3));
  EXPECT_EQ(m.set_debug({.type = 3, .on = 1, .all = 1, .level = 7, .name = "/dev/full"}),
            "DPPDEBUG_MGR_INFO: Debug level changed to 7\n" + sending(0, 7, 1) +
                sending(0, 7, 2));
  EXPECT_TRUE(m.got(0x3, 0, 7));
  EXPECT_FALSE(vty_listed(m.d, "/dev/full")) << "the level request names no terminal";
  EXPECT_EQ(m.show(), "\nDebug level: 7 (DEBUG)\n\nDPP instances: 1 2 \n\n");
  // A level above 7 is stored and sent unchanged.
  m.set_debug({.type = 3, .level = 9, .name = ""});
  EXPECT_TRUE(m.got(0x3, 0, 9));
  EXPECT_EQ(m.show(), "\nDebug level: 9 (UNKNOWN)\n\nDPP instances: 1 2 \n\n");
}

TEST(DppLogSetDebugTest, UnknownTypesAndCategoriesAreAnsweredAndChangeNothing) {
  Manager m;
  m.set_debug(dpp_map(1, 0xF));
  EXPECT_EQ(m.set_debug({.type = 9, .on = 1, .name = "/dev/null"}),
            "DPPDEBUG_MGR_ERR: Unknown SET_DEBUG type 9\n\n");
  // A category outside 1 to 29 touches no table: reported, not carried out.
  for (std::uint8_t flag : {0, 30, 255})
    EXPECT_EQ(m.set_debug(category(1, flag, {1, 2, 3, 4})),
              "DPPDEBUG_MGR_ERR: Invalid flag " + std::to_string(flag) +
                  " in SET_DEBUG, ignored\n");
  // A rejected SET_DEBUG is neither handled nor answered.
  ASSERT_EQ(client::send_unbound(m.d.platform(), kSap, 5000,
                                 wire::encode_set_debug(all_categories(1)),
                                 wire::vesk_frame::kFlagReject),
            0);
  EXPECT_EQ(m.step_output(), "");
  EXPECT_EQ(m.sent_to(), 0u);
  EXPECT_EQ(m.show(), std::string(kHead) + "1 2 3 4 \n\n");
}

// --- DPP up and down, feature downloads ---------------------------------------------

Buf feature_rqst(std::uint32_t feature, std::vector<std::uint8_t> dpps) {
  wire::DnldFeatureRqst r{.feature = feature, .count = static_cast<std::uint8_t>(dpps.size())};
  std::copy(dpps.begin(), dpps.end(), r.dpps.begin());
  return wire::encode_feature_rqst(r);
}
Buf feature_complete(std::uint32_t feature, std::vector<wire::DnldFeatureEntry> entries) {
  wire::DnldFeatureComplete c{.feature = feature,
                              .count = static_cast<std::uint8_t>(entries.size())};
  std::copy(entries.begin(), entries.end(), c.entries.begin());
  return wire::encode_feature_complete(c);
}

TEST(DppLogDppStateTest, UpDownAndFeatureDownloadsFollowTheStateTable) {
  Manager m;
  constexpr std::uint32_t kOff = wire::kFeaturePlinderOff;
  constexpr std::uint32_t kOther = 0x12345678;
  const Filters f{3, 0, 0, 0};
  m.set_debug(category(1, 6, f));
  m.set_debug(dpp_map(1, 0x7));  // DPPs 1 to 3 mapped, 4 not
  m.sent_to();
  auto up = [&](std::uint32_t d) { return m.notify(7521, wire::encode_dpp_index(d)); };
  auto down = [&](std::uint32_t d) { return m.notify(7522, wire::encode_dpp_index(d)); };
  const std::string both = "1 2 3 \n\ndriver rx is on\n    filter 1 is 0x00000003 (3)\n";

  // A DPP that comes up gets the current flags, once.
  EXPECT_EQ(up(1), sending(0x20, 6, 2));
  EXPECT_TRUE(m.got(0x2, 0x20, 6, {{6, f}}));
  EXPECT_EQ(up(1), "");
  EXPECT_EQ(m.sent_to(), 0u);
  // Down, then up again: sent once more.
  EXPECT_EQ(down(1), "");
  EXPECT_EQ(m.sent_to(), 0u);
  up(1);
  EXPECT_EQ(m.sent_to(), 0x2u);
  // A DPP outside the map comes up without flags; indexes beyond the card
  // and beyond 31 name no DPP that is ever sent to.
  for (std::uint32_t i : {3, 9, 40}) EXPECT_EQ(up(i), "") << i;
  EXPECT_EQ(down(1000), "");
  EXPECT_EQ(m.sent_to(), 0u);
  EXPECT_EQ(m.show(), std::string(kHead) + both);

  // The plinder-off download takes DPPs 1 and 2 out of logging; its
  // completion leaves them out, and DPP_UP cannot bring them back.
  EXPECT_EQ(m.notify(7571, feature_rqst(kOff, {0, 1})), "");
  EXPECT_EQ(m.show(), std::string(kHead) + "3 \n\ndriver rx is on\n"
                                           "    filter 1 is 0x00000003 (3)\n");
  EXPECT_EQ(m.notify(7572, feature_complete(kOff, {{0, 2}, {1, 2}})), "");
  EXPECT_EQ(up(0), "");
  EXPECT_EQ(m.sent_to(), 0u);
  EXPECT_TRUE(m.show().starts_with(std::string(kHead) + "3 \n\n"));

  // Completion of another feature: status 2 returns DPP 2 and brings it up
  // (flags sent); another status returns DPP 1 to logging but not up.
  EXPECT_EQ(m.notify(7572, feature_complete(kOther, {{1, 2}, {0, 1}})), sending(0x20, 6, 2));
  EXPECT_EQ(m.sent_to(), 0x2u);
  EXPECT_EQ(m.show(), std::string(kHead) + both);
  EXPECT_EQ(up(0), sending(0x20, 6, 1));
  EXPECT_EQ(m.sent_to(), 0x1u);

  // Another feature's request only takes the DPP down: it stays in logging,
  // and the next DPP_UP sends it the flags again.
  EXPECT_EQ(m.notify(7571, feature_rqst(kOther, {0})), "");
  EXPECT_EQ(m.show(), std::string(kHead) + both);
  EXPECT_EQ(up(0), sending(0x20, 6, 1));
  EXPECT_EQ(m.sent_to(), 0x1u);
  // A failed download and an empty request change nothing.
  EXPECT_EQ(m.notify(7573, feature_rqst(kOff, {0, 1, 2, 3})), "");
  EXPECT_EQ(m.notify(7571, feature_rqst(kOff, {})), "");
  EXPECT_EQ(up(0), "");
  EXPECT_EQ(m.sent_to(), 0u);
  EXPECT_EQ(m.show(), std::string(kHead) + both);

  // Adding DPP 4 to the map sends it the flags through the map change.
  m.set_debug(dpp_map(1, 0x8));
  EXPECT_EQ(m.sent_to(), 0x8u);
}

}  // namespace
}  // namespace e2e
