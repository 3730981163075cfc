// SetDebugRequest: the payload of SET_DEBUG (opcode 5000).
//
//   0 u8 type (1 categories, 2 DPP map, 3 level, 4 output file)
//   1 u8 on | 2 u8 all
//   bytes 4-7, read by type: 4 u8 flag (type 1) | 4-7 u32 dpp_mask (type 2)
//                            | 7 u8 level (type 3)
//   8-23 four u32 filters (type 1) | 24.. name, NUL-terminated
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wire/be.h"

namespace wire {

namespace set_debug {
constexpr std::size_t kType = 0;
constexpr std::size_t kOn = 1;
constexpr std::size_t kAll = 2;
constexpr std::size_t kFlag = 4;
constexpr std::size_t kDppMask = 4;
constexpr std::size_t kLevel = 7;
constexpr std::size_t kFilters = 8;
constexpr std::size_t kFilterWords = 4;
constexpr std::size_t kName = 24;
static_assert(kFilters + 4 * kFilterWords == kName);
static_assert(kDppMask + 3 == kLevel);
}  // namespace set_debug

constexpr std::uint8_t kSetDebugCategories = 1;
constexpr std::uint8_t kSetDebugDppMap = 2;
constexpr std::uint8_t kSetDebugLevel = 3;
constexpr std::uint8_t kSetDebugOutputFile = 4;

struct SetDebugRequest {
  std::uint8_t type = 0;
  std::uint8_t on = 0;
  std::uint8_t all = 0;
  std::uint8_t flag = 0;
  std::uint32_t dpp_mask = 0;
  std::uint8_t level = 0;
  std::array<std::uint32_t, set_debug::kFilterWords> filters{};
  // The text from byte 24 up to its first NUL inside the payload given.
  std::string_view name;
  bool name_terminated = false;  // a NUL was found inside the payload
};

// Decodes in place: `name` points into payload, which must outlive the record.
SetDebugRequest decode_set_debug(Bytes payload);

// Encoding for tools and tests. Byte 4-7 are written by type: flag (type 1),
// dpp_mask (type 2) or level (type 3). The name is written with its NUL.
std::vector<std::uint8_t> encode_set_debug(const SetDebugRequest& r);

}  // namespace wire
