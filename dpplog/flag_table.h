// The DPP log categories and the debug-level names.
//
// Category n (1 to 29) is row n of debug_flag_entries, bit n-1 of cur_flag and
// block n-1 of cur_filters. Row 0 is empty and never used. The table is
// writable: init_koru_dbg_mgr checks every row's id against its index and
// fills overridden_by from the overrides column.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kDppLogCategories = 29;

struct DebugFlagEntry {
  std::int32_t id;             // the category number, equal to the row index
  const char* long_name;       // shown by the show report
  const char* short_name;      // tag ahead of the category's lines; may be null
  std::int32_t overrides;      // category this one overrides; 0 for none
  std::int32_t overridden_by;  // category overriding this one; linked at start
};

extern "C" {
extern DebugFlagEntry debug_flag_entries[kDppLogCategories + 1];
extern const char* const debug_level_names[8];
}

// The name of a debug level for the show report; levels above 7 have no name
// in debug_level_names and are shown as "UNKNOWN".
const char* debug_level_name(unsigned level);
