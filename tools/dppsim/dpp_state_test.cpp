// A simulated DPP applying the daemon's flag messages: the bits and log
// flags it keeps, and the one line it prints per message.
#include "tools/dppsim/dpp_state.h"

#include <gtest/gtest.h>

#include <cstring>

#include "wire/flag_update_msg.h"

namespace dppsim {
namespace {

XipcAddr daemon_addr() {
  XipcAddr a{};
  a.family = 31;
  a.module = 37;
  a.port = 1024;
  return a;
}

std::vector<std::uint8_t> flag_update(std::uint32_t op, std::uint32_t mask, std::uint32_t module) {
  wire::FlagUpdateMsg m;
  m.op = op;
  m.mask = mask;
  m.module = module;
  auto b = wire::encode_flag_update(m);
  return {b.begin(), b.end()};
}

bool has(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

TEST(DppState, FlagUpdatesSwitchBitsPerCoreAndModule) {
  DppState s;
  s.dpp = 1;
  std::string line = apply_flag_update(s, 2, daemon_addr(), flag_update(1, 0x40, 55));
  EXPECT_EQ(line,
            "[DPP 1 core 2] FlagUpdateMsg on module 55 (nivo ipstack) mask 0x00000040 port 3, "
            "no filter; bits now 0x00000040 [from 0.37.1024]");
  apply_flag_update(s, 2, daemon_addr(), flag_update(1, 0x3, 55));
  apply_flag_update(s, 1, daemon_addr(), flag_update(1, 0x1, 66));
  line = apply_flag_update(s, 2, daemon_addr(), flag_update(2, 0x41, 55));
  EXPECT_TRUE(has(line, "FlagUpdateMsg off module 55")) << line;
  EXPECT_TRUE(has(line, "bits now 0x00000002")) << line;
  ASSERT_EQ(s.bits.size(), 2u);
  EXPECT_EQ(s.bits[0].core, 2);
  EXPECT_EQ(s.bits[0].mask, 0x2u);
  EXPECT_EQ(s.bits[1].module, 66u);
  EXPECT_EQ(s.flag_updates, 4u);

  line = apply_flag_update(s, 2, daemon_addr(), flag_update(7, 0xFF, 55));
  EXPECT_TRUE(has(line, "op 7 (unknown, ignored)")) << line;
  EXPECT_EQ(s.bits[0].mask, 0x2u);
}

TEST(DppState, FlagUpdateFiltersAndShortMessagesAreShown) {
  DppState s;
  s.dpp = 2;
  wire::FlagUpdateMsg m;
  m.op = 1;
  m.mask = 0x400000;
  m.module = 83;
  m.sess_type = 2;
  m.type = 2;
  m.fenk = 7;
  m.init_fcid = 0x10A;
  m.targ_fcid = 0x20B;
  auto b = wire::encode_flag_update(m);
  std::string line =
      apply_flag_update(s, 5, daemon_addr(), std::vector<std::uint8_t>(b.begin(), b.end()));
  EXPECT_TRUE(has(line, "type 2 (lrtp) fenk 7 init_fcid 0x0000010A targ_fcid 0x0000020B")) << line;

  m = {};
  m.op = 1;
  m.mask = 1;
  m.module = 66;
  m.sess_type = 1;
  std::memcpy(m.init.data(), "iqn.a", 5);
  std::memcpy(m.tgt.data(), "iqn.b", 5);
  b = wire::encode_flag_update(m);
  line =
      apply_flag_update(s, 5, daemon_addr(), std::vector<std::uint8_t>(b.begin(), b.begin() + 600));
  EXPECT_TRUE(has(line, "init \"iqn.a\" tgt \"iqn.b\"")) << line;
  EXPECT_TRUE(has(line, "(length 600, expected 616)")) << line;
}

TEST(DppState, DppFlagMsgSetsLevelCategoriesAndTheFiltersOfSetCategories) {
  DppState s;
  s.dpp = 1;
  wire::DppFlagMsg m;
  m.num_categories = 29;
  m.level = 7;
  m.flags = 0x5;
  m.filters[0] = {1, 0, 0, 0x10};
  m.filters[1] = {9, 9, 9, 9};  // bit 1 clear: carries no information
  m.filters[2] = {1, 0, 0, 0x10};
  auto b = wire::encode_dpp_flag(m);
  std::string line =
      apply_dpp_flag(s, 0, daemon_addr(), std::vector<std::uint8_t>(b.begin(), b.end()));
  EXPECT_EQ(line,
            "[DPP 1 core 0] DppFlagMsg level 7 (DEBUG) flags 0x00000005 categories 1,3 filters "
            "1:(1,0,0,0x10) 3:(1,0,0,0x10) [from 0.37.1024]");
  EXPECT_EQ(s.level, 7);
  EXPECT_EQ(s.categories, 0x5u);
  EXPECT_EQ(s.filters[1], (wire::FilterBlock{0, 0, 0, 0}));

  std::string state = describe_state(s);
  EXPECT_TRUE(has(state, "DPP 1: 0 flag update(s), 1 log-flag message(s)\n")) << state;
  EXPECT_TRUE(has(state, "log flags: level 7 (DEBUG), categories 0x00000005: 1,3\n")) << state;
  EXPECT_TRUE(has(state, "filters of category 3: (1,0,0,0x10)\n")) << state;
  EXPECT_FALSE(has(state, "filters of category 2")) << state;
}

TEST(DppState, StateOfADppThatHeardNothingAndTheCoresOfEachDpp) {
  for (auto [core, dpp] : {std::pair{0, 1u}, {3, 1u}, {4, 2u}, {13, 4u}}) EXPECT_EQ(dpp_of_core(core), dpp);
  EXPECT_EQ(first_core_of(3), 8);
  DppState s;
  s.dpp = 4;
  EXPECT_EQ(describe_state(s),
            "DPP 4: 0 flag update(s), 0 log-flag message(s)\n"
            "  debug bits: none\n"
            "  log flags: none received\n");
  EXPECT_EQ(category_list(0), "none");
  EXPECT_EQ(category_list(0x80000001u), "1,32");
  EXPECT_STREQ(level_name(8), "?");
  EXPECT_STREQ(module_name(83), "pemra");
}

}  // namespace
}  // namespace dppsim
