// The DPP debug log manager's settings and DPP sets: what the supervisor's
// requests change, what the broadcast sends and what the report shows.
//
// DPP n is numbered from 1: bit n-1 of every DPP set, XIPC core 4 x (n-1).
// Category n (1 to 29) is bit n-1 of cur_flag and block n-1 of cur_filters.
#pragma once

#include <cstdint>

#include "dpplog/flag_table.h"

constexpr std::uint32_t kAllCategories = 0x1FFFFFFFu;
constexpr int kMaxDpps = 4;  // the most DPPs a card has
constexpr const char* kDppDebugFacility = "dpp_debug";

extern "C" {
extern int num_dpps;                // 1 or 4 once started; 0 otherwise
extern std::uint32_t plinder_dpps;  // DPPs taking part in DPP logging
extern std::uint32_t active_dpps;   // DPPs reported up
extern std::uint32_t dppmap;        // DPPs whose logging the supervisor enabled
extern std::uint32_t cur_flag;      // enabled categories, bit n-1 for category n
extern std::uint32_t cur_filters[kDppLogCategories][4];
extern std::uint8_t debug_level;  // sent with the flags; 6 at start
extern int debug_q;               // the VESK handle the manager replies on
}
