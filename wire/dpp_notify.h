// Payloads of the platform's DPP notifications.
//
// DPP_UP (7521) / DPP_DOWN (7522): 0-3 u32 DPP index d (index d is DPP d+1).
// DnldFeatureRqst (7571): 0-3 u32 feature | 56 u8 count | 57.. count indexes.
// DnldFeatureComplete (7572): 0-3 u32 feature | 12 u8 count
//   | 16.. count entries of 8 bytes: 0-1 u16 dpp, 4-7 u32 status (2: up).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "wire/be.h"

namespace wire {

namespace dpp_notify {
constexpr std::size_t kDppIndex = 0;
constexpr std::size_t kFeature = 0;
constexpr std::size_t kRqstCount = 56;
constexpr std::size_t kRqstDpps = 57;
constexpr std::size_t kCompleteCount = 12;
constexpr std::size_t kCompleteEntries = 16;
constexpr std::size_t kEntrySize = 8;
constexpr std::size_t kEntryDpp = 0;
constexpr std::size_t kEntryStatus = 4;
static_assert(kRqstCount + 1 == kRqstDpps);
static_assert(kEntryStatus + 4 == kEntrySize);
}  // namespace dpp_notify

constexpr std::uint32_t kFeaturePlinderOff = 0x91810000u;
constexpr std::uint32_t kFeatureStatusUp = 2;

struct DnldFeatureRqst {
  std::uint32_t feature = 0;
  std::uint8_t count = 0;
  std::array<std::uint8_t, 255> dpps{};

  bool operator==(const DnldFeatureRqst&) const = default;
};

struct DnldFeatureEntry {
  std::uint16_t dpp = 0;
  std::uint32_t status = 0;

  bool operator==(const DnldFeatureEntry&) const = default;
};

struct DnldFeatureComplete {
  std::uint32_t feature = 0;
  std::uint8_t count = 0;
  std::array<DnldFeatureEntry, 255> entries{};

  bool operator==(const DnldFeatureComplete&) const = default;
};

std::uint32_t decode_dpp_index(Bytes payload);
DnldFeatureRqst decode_feature_rqst(Bytes payload);
DnldFeatureComplete decode_feature_complete(Bytes payload);

std::vector<std::uint8_t> encode_dpp_index(std::uint32_t d);
std::vector<std::uint8_t> encode_feature_rqst(const DnldFeatureRqst& r);
std::vector<std::uint8_t> encode_feature_complete(const DnldFeatureComplete& c);

}  // namespace wire
