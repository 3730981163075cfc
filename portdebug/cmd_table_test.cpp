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

// The ids from..to, then the extra ones.
std::vector<int> ids(std::initializer_list<std::pair<int, int>> ranges) {
  std::vector<int> v;
  for (auto [from, to] : ranges)
    for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

const std::set<int> kAllRows = {1, 24, 38, 63, 70, 73};

bool is_fenk_format_row(int id) { return id == 92 || (id >= 99 && id <= 102) || (id >= 109 && id <= 120); }

// The seven families together own every command id 1 to 123.
TEST(CmdTable, EachModuleOwnsExactlyItsCommandIds) {
  EXPECT_EQ(ids_of_module(55), ids({{1, 23}, {40, 40}, {49, 49}, {71, 72}, {76, 81}, {87, 87}}));
  EXPECT_EQ(ids_of_module(66), ids({{24, 37}, {46, 48}}));
  EXPECT_EQ(ids_of_module(77), ids({{38, 39}, {41, 45}, {50, 58}, {82, 86}, {89, 91}, {121, 123}}));
  EXPECT_EQ(ids_of_module(80), ids({{59, 64}, {88, 88}}));
  EXPECT_EQ(ids_of_module(81), ids({{65, 70}}));
  EXPECT_EQ(ids_of_module(82), ids({{73, 75}}));
  EXPECT_EQ(ids_of_module(83), ids({{92, 120}}));
}

TEST(CmdTable, RowsThatSetTheTableApart) {
  EXPECT_EQ(cmdMaskTable[0].mask, 0xDEADBEEFu);
  EXPECT_EQ(cmdMaskTable[0].module, 0xDEADBEEFu);
  EXPECT_STREQ(cmdMaskTable[0].format, "unused");
  for (int id : {124, 125}) {
    EXPECT_EQ(cmdMaskTable[id].mask | cmdMaskTable[id].module, 0u);
    EXPECT_EQ(cmdMaskTable[id].format, nullptr);
  }
  for (int id = 1; id <= 123; ++id)
    EXPECT_EQ(cmdMaskTable[id].mask == 0xFFFFFFFFu, kAllRows.count(id) == 1) << "row " << id;
  EXPECT_EQ(cmdMaskTable[98].mask, 0x00EF001Cu);
  EXPECT_EQ(cmdMaskTable[108].mask, 0x00800000u);
  EXPECT_EQ(cmdMaskTable[22].mask, 0x80000000u);  // ipstack error
  EXPECT_EQ(cmdMaskTable[45].mask, 0x80000000u);  // fcip err
  std::uint32_t module55 = 0;  // module 55 uses every bit
  for (int id : ids_of_module(55))
    if (!kAllRows.count(id)) module55 |= cmdMaskTable[id].mask;
  EXPECT_EQ(module55, 0xFFFFFFFFu);
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
  EXPECT_STREQ(cmdMaskTable[111].format, cmdMaskTable[112].format);
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
    EXPECT_NE(f.find(e.module == 83 ? "dpp %d" : "port %d"), std::string::npos) << "row " << id;
  }
  EXPECT_STREQ(cmdMaskTable[91].format, "\t debug nivo fcip xrce-memcap port %d\n");
  EXPECT_STREQ(cmdMaskTable[92].format,
               "\tdebug pemra i-t-nexus fenk %d init_fcid %x targ_fcid %x dpp %d\n");
}

// The guard that lets the listing pass (port, 0u, 0u, 0) to every format.
TEST(CmdTable, ListingConversionGuard) {
  for (const char* ok : {"no conversion", "100%% port %d", "%d %x %x %d"})
    EXPECT_TRUE(listing_conversions_ok(ok)) << ok;
  for (const char* bad : {"%s", "%d %d", "%ld", "%d %x %x %d %d", "trailing %"})
    EXPECT_FALSE(listing_conversions_ok(bad)) << bad;
  EXPECT_EQ(count_conversions("100%% %d %x"), 2);
}

}  // namespace
