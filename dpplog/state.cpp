#include "dpplog/state.h"

extern "C" {
int num_dpps = 0;
std::uint32_t plinder_dpps = 0;
std::uint32_t active_dpps = 0;
std::uint32_t dppmap = 0;
std::uint32_t cur_flag = 0;
std::uint32_t cur_filters[kDppLogCategories][4] = {};
std::uint8_t debug_level = 6;
int debug_q = 0;
}
