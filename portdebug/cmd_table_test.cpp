#include "portdebug/cmd_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<int> ids_of_module(std::uint32_t module) {
  std::vector<int> ids;
  for (int id = 1; id <= 123; ++id)
    if (cmdMaskTable[id].module == module) ids.push_back(id);
  return ids;
}

std::vector<int> range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

std::vector<int> concat(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

const std::set<int> kAllRows = {1, 24, 38, 63, 70, 73};

bool is_fenk_format_row(int id) { return id == 92 || (id >= 99 && id <= 102) || (id >= 109 && id <= 120); }

TEST(CmdTable, SizesAndListingId) {
  EXPECT_EQ(cmdMaskTableSize, 126u);
  EXPECT_EQ(show_command, 126);
  EXPECT_EQ(sizeof cmdMaskTable / sizeof cmdMaskTable[0], 126u);
}

TEST(CmdTable, EachModuleOwnsExactlyItsCommandIds) {
  EXPECT_EQ(ids_of_module(55), concat({range(1, 23), {40, 49, 71, 72}, range(76, 81), {87}}));
  EXPECT_EQ(ids_of_module(66), concat({range(24, 37), range(46, 48)}));
  EXPECT_EQ(ids_of_module(77), concat({{38, 39}, range(41, 45), range(50, 58), range(82, 86),
                                       range(89, 91), range(121, 123)}));
  EXPECT_EQ(ids_of_module(80), concat({range(59, 64), {88}}));
  EXPECT_EQ(ids_of_module(81), range(65, 70));
  EXPECT_EQ(ids_of_module(82), range(73, 75));
  EXPECT_EQ(ids_of_module(83), range(92, 120));

  const std::map<std::uint32_t, std::size_t> counts = {{55, 34}, {66, 17}, {77, 27}, {80, 7},
                                                       {81, 6},  {82, 3},  {83, 29}};
  std::size_t total = 0;
  for (auto [module, n] : counts) {
    EXPECT_EQ(ids_of_module(module).size(), n) << "module " << module;
    total += n;
  }
  EXPECT_EQ(total, 123u);  // every command id belongs to one of the seven
}

TEST(CmdTable, RowsWithoutCommands) {
  EXPECT_EQ(cmdMaskTable[0].mask, 0xDEADBEEFu);
  EXPECT_EQ(cmdMaskTable[0].module, 0xDEADBEEFu);
  EXPECT_STREQ(cmdMaskTable[0].format, "unused");
  for (int id : {124, 125}) {
    EXPECT_EQ(cmdMaskTable[id].mask, 0u);
    EXPECT_EQ(cmdMaskTable[id].module, 0u);
    EXPECT_EQ(cmdMaskTable[id].format, nullptr);
  }
}

TEST(CmdTable, AllRowsAndTheOddOnes) {
  for (int id = 1; id <= 123; ++id)
    EXPECT_EQ(cmdMaskTable[id].mask == 0xFFFFFFFFu, kAllRows.count(id) == 1) << "row " << id;
  EXPECT_EQ(cmdMaskTable[98].mask, 0x00EF001Cu);
  EXPECT_EQ(cmdMaskTable[98].mask, 0x4u | 0x8u | 0x10u | 0x10000u | 0x20000u | 0x40000u |
                                       0x80000u | 0x200000u | 0x400000u | 0x800000u);
  EXPECT_EQ(cmdMaskTable[108].mask, 0x00800000u);
  EXPECT_EQ(cmdMaskTable[22].mask, 0x80000000u);  // ipstack error
  EXPECT_EQ(cmdMaskTable[45].mask, 0x80000000u);  // fcip err
}

TEST(CmdTable, OnlyTheKnownRowsShareBits) {
  // Pairs of command rows of one module whose bits overlap, leaving out the
  // "all" rows and "adap all" (98), which overlap by design.
  std::set<std::pair<int, int>> overlapping;
  for (int a = 1; a <= 123; ++a)
    for (int b = a + 1; b <= 123; ++b) {
      if (kAllRows.count(a) || kAllRows.count(b) || a == 98 || b == 98) continue;
      if (cmdMaskTable[a].module == cmdMaskTable[b].module &&
          (cmdMaskTable[a].mask & cmdMaskTable[b].mask) != 0)
        overlapping.insert({a, b});
    }
  std::set<std::pair<int, int>> expected = {{19, 40}, {99, 104}, {111, 112}, {41, 42}, {43, 44}};
  const std::vector<int> ctl = {102, 103, 105, 106, 107, 108};
  for (std::size_t i = 0; i < ctl.size(); ++i)
    for (std::size_t j = i + 1; j < ctl.size(); ++j) expected.insert({ctl[i], ctl[j]});
  EXPECT_EQ(overlapping, expected);

  EXPECT_EQ(cmdMaskTable[42].mask, 0x6u);
  EXPECT_EQ(cmdMaskTable[44].mask, 0x18u);
  EXPECT_EQ(cmdMaskTable[111].mask, cmdMaskTable[112].mask);
  EXPECT_EQ(cmdMaskTable[111].module, cmdMaskTable[112].module);
  EXPECT_STREQ(cmdMaskTable[111].format, cmdMaskTable[112].format);
}

TEST(CmdTable, Module55UsesEveryBit) {
  std::uint32_t bits = 0;
  for (int id : ids_of_module(55))
    if (!kAllRows.count(id)) bits |= cmdMaskTable[id].mask;
  EXPECT_EQ(bits, 0xFFFFFFFFu);
}

TEST(CmdTable, FormatsCarryTheirFamilyAndConversions) {
  const std::map<std::uint32_t, std::string> family = {
      {55, "debug nivo ipstack "}, {66, "debug nivo iscsi "}, {77, "debug nivo fcip "},
      {80, "debug nivo crypto "},  {81, "debug nivo quellan "}, {82, "debug nivo cloud "},
      {83, "debug pemra "}};
  for (int id = 1; id <= 123; ++id) {
    const CmdMaskEntry& e = cmdMaskTable[id];
    ASSERT_NE(e.format, nullptr) << "row " << id;
    const std::string f = e.format;
    const std::string lead = id == 91 ? "\t " : "\t";
    EXPECT_EQ(f.rfind(lead + family.at(e.module), 0), 0u) << "row " << id << ": " << f;
    EXPECT_EQ(f.back(), '\n') << "row " << id;
    EXPECT_EQ(count_conversions(f), is_fenk_format_row(id) ? 4 : 1) << "row " << id;
    EXPECT_TRUE(listing_conversions_ok(f)) << "row " << id;
    const std::string place = e.module == 83 ? "dpp %d" : "port %d";
    EXPECT_NE(f.find(place), std::string::npos) << "row " << id;
  }
  EXPECT_EQ(count_conversions(cmdMaskTable[0].format), 0);
  EXPECT_STREQ(cmdMaskTable[91].format, "\t debug nivo fcip xrce-memcap port %d\n");
  EXPECT_STREQ(cmdMaskTable[19].format, "\tdebug nivo ipstack tcp port %d sack\n");
  EXPECT_STREQ(cmdMaskTable[92].format,
               "\tdebug pemra i-t-nexus fenk %d init_fcid %x targ_fcid %x dpp %d\n");
}

TEST(CmdTable, ListingConversionGuard) {
  EXPECT_TRUE(listing_conversions_ok("no conversion"));
  EXPECT_TRUE(listing_conversions_ok("100%% port %d"));
  EXPECT_TRUE(listing_conversions_ok("%d %x %x %d"));
  EXPECT_FALSE(listing_conversions_ok("%s"));
  EXPECT_FALSE(listing_conversions_ok("%d %d"));
  EXPECT_FALSE(listing_conversions_ok("%ld"));
  EXPECT_FALSE(listing_conversions_ok("%d %x %x %d %d"));
  EXPECT_FALSE(listing_conversions_ok("trailing %"));
  EXPECT_EQ(count_conversions("100%% %d %x"), 2);
}

TEST(CmdTable, CommandIdsAndPorts) {
  EXPECT_FALSE(names_debug_command(0));
  EXPECT_TRUE(names_debug_command(1));
  EXPECT_TRUE(names_debug_command(123));
  EXPECT_FALSE(names_debug_command(124));
  EXPECT_FALSE(names_debug_command(125));
  EXPECT_FALSE(names_debug_command(show_command));
  EXPECT_FALSE(names_debug_command(-1));
  EXPECT_EQ(dravik_core_num_to_print(0), 1);
  EXPECT_EQ(dravik_core_num_to_print(31), 32);
}

}  // namespace
