// A simulated DPP applying the daemon's flag messages: the bits and log
// flags it keeps, and the one line it prints per message.
#include "tools/dppsim/dpp_state.h"

#include <gtest/gtest.h>

#include <cstring>

#include "wire/flag_update_msg.h"

namespace dppsim {
namespace {

const XipcAddr kDaemon = [] {
  XipcAddr a{};
  a.module = 37;
  a.port = 1024;
  return a;
}();

std::vector<std::uint8_t> bytes(const wire::FlagUpdateMsg& m, std::size_t cut = 0) {
  auto b = wire::encode_flag_update(m);
  return {b.begin(), b.end() - cut};
}

std::vector<std::uint8_t> flag_update(std::uint32_t op, std::uint32_t mask, std::uint32_t module) {
  wire::FlagUpdateMsg m;
  std::tie(m.op, m.mask, m.module) = std::tie(op, mask, module);
  return bytes(m);
}

bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

TEST(DppState, FlagUpdatesSwitchBitsPerCoreAndModule) {
  DppState s;
  s.dpp = 1;
  apply_flag_update(s, 2, kDaemon, flag_update(1, 0x43, 55));
  apply_flag_update(s, 1, kDaemon, flag_update(1, 0x1, 66));
  std::string line = apply_flag_update(s, 2, kDaemon, flag_update(2, 0x41, 55));
  EXPECT_TRUE(has(line, "FlagUpdateMsg off module 55")) << line;
  EXPECT_TRUE(has(line, "bits now 0x00000002 [from 0.37.1024]")) << line;
  line = apply_flag_update(s, 2, kDaemon, flag_update(7, 0xFF, 55));
  EXPECT_TRUE(has(line, "op 7 (unknown, ignored)")) << line;
  ASSERT_EQ(s.bits.size(), 2u);
  EXPECT_EQ(std::tie(s.bits[0].core, s.bits[0].mask), std::make_tuple(2, 0x2u));
  EXPECT_EQ(s.bits[1].module, 66u);
  EXPECT_EQ(s.flag_updates, 4u);
}

TEST(DppState, FlagUpdateFiltersAndShortMessagesAreShown) {
  DppState s;
  wire::FlagUpdateMsg m;
  std::tie(m.op, m.mask, m.module, m.sess_type, m.type) = std::make_tuple(1, 0x400000, 83, 2, 2);
  std::tie(m.fenk, m.init_fcid, m.targ_fcid) = std::make_tuple(7, 0x10A, 0x20B);
  EXPECT_TRUE(has(apply_flag_update(s, 5, kDaemon, bytes(m)),
                  "type 2 (lrtp) fenk 7 init_fcid 0x0000010A targ_fcid 0x0000020B"));
  m = {};
  std::tie(m.op, m.mask, m.module, m.sess_type) = std::make_tuple(1, 1, 66, 1);
  std::memcpy(m.init.data(), "iqn.a", 5);
  std::memcpy(m.tgt.data(), "iqn.b", 5);
  std::string line = apply_flag_update(s, 5, kDaemon, bytes(m, 16));
  EXPECT_TRUE(has(line, "init \"iqn.a\" tgt \"iqn.b\"")) << line;
  EXPECT_TRUE(has(line, "(length 600, expected 616)")) << line;
}

TEST(DppState, DppFlagMsgKeepsOnlyTheFiltersOfSetCategories) {
  DppState s;
  s.dpp = 4;
  EXPECT_EQ(describe_state(s),
            "DPP 4: 0 flag update(s), 0 log-flag message(s)\n"
            "  debug bits: none\n"
            "  log flags: none received\n");
  wire::DppFlagMsg m;
  std::tie(m.num_categories, m.level, m.flags) = std::make_tuple(29, 7, 0x80000005u);
  m.filters[0] = m.filters[2] = {1, 0, 0, 0x10};
  m.filters[1] = {9, 9, 9, 9};  // bit 1 clear: carries no information
  auto b = wire::encode_dpp_flag(m);
  EXPECT_EQ(apply_dpp_flag(s, 13, kDaemon, {b.begin(), b.end()}),
            "[DPP 4 core 13] DppFlagMsg level 7 (DEBUG) flags 0x80000005 categories 1,3,32 "
            "filters 1:(1,0,0,0x10) 3:(1,0,0,0x10) [from 0.37.1024]");
  EXPECT_EQ(s.filters[1], (wire::FilterBlock{0, 0, 0, 0}));
  std::string state = describe_state(s);
  EXPECT_TRUE(has(state, "log flags: level 7 (DEBUG), categories 0x80000005: 1,3,32\n")) << state;
  EXPECT_TRUE(has(state, "filters of category 3: (1,0,0,0x10)\n")) << state;
  EXPECT_FALSE(has(state, "filters of category 2")) << state;
}

}  // namespace
}  // namespace dppsim
