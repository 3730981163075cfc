#include "wire/dpp_flag_msg.h"

namespace wire {

using namespace dpp_flag;

std::array<std::uint8_t, kSize> encode_dpp_flag(const DppFlagMsg& m) {
  std::array<std::uint8_t, kSize> out{};
  put_u8(out, kNumCategories, m.num_categories);
  put_u8(out, kLevel, m.level);
  put_u32(out, kFlags, m.flags);
  for (std::size_t k = 0; k < kCategories; ++k)
    for (std::size_t w = 0; w < kBlockWords; ++w)
      put_u32(out, kFilters + k * kBlockSize + 4 * w, m.filters[k][w]);
  return out;
}

DppFlagMsg decode_dpp_flag(Bytes d) {
  DppFlagMsg m;
  m.num_categories = get_u8(d, kNumCategories);
  m.level = get_u8(d, kLevel);
  m.flags = get_u32(d, kFlags);
  for (std::size_t k = 0; k < kCategories; ++k)
    for (std::size_t w = 0; w < kBlockWords; ++w)
      m.filters[k][w] = get_u32(d, kFilters + k * kBlockSize + 4 * w);
  return m;
}

}  // namespace wire
