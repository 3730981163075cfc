// DppFlagMsg: the 472-byte log-flag datagram to a DPP's log service
// (core 4 x (n-1), module 66, opcode 33, length 472).
//
//   0 u8 num_categories (29) | 1 u8 level | 2-3 carry nothing | 4-7 u32 flags
//   8-471 29 filter blocks of four u32 words; block k at 8 + 16k serves
//         category k+1 and is filled only when bit k of flags is set.
#pragma once

#include <array>
#include <cstdint>

#include "wire/be.h"

namespace wire {

namespace dpp_flag {
constexpr std::size_t kNumCategories = 0;
constexpr std::size_t kLevel = 1;
constexpr std::size_t kFlags = 4;
constexpr std::size_t kFilters = 8;
constexpr std::size_t kCategories = 29;
constexpr std::size_t kBlockWords = 4;
constexpr std::size_t kBlockSize = 16;
constexpr std::size_t kSize = 472;
static_assert(kFilters + kCategories * kBlockSize == kSize);
}  // namespace dpp_flag

using FilterBlock = std::array<std::uint32_t, dpp_flag::kBlockWords>;

struct DppFlagMsg {
  std::uint8_t num_categories = 0;
  std::uint8_t level = 0;
  std::uint32_t flags = 0;
  std::array<FilterBlock, dpp_flag::kCategories> filters{};

  bool operator==(const DppFlagMsg&) const = default;
};

// Every filter block is written as held in m (zero blocks stay zero).
std::array<std::uint8_t, dpp_flag::kSize> encode_dpp_flag(const DppFlagMsg& m);
DppFlagMsg decode_dpp_flag(Bytes datagram);

}  // namespace wire
