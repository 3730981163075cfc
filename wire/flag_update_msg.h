// FlagUpdateMsg: the 616-byte datagram that switches a port's debug bits on a
// DPP core (sent to core = port, module 39, opcode 88, length 616).
//
//   0-3 u32 op (1 on, 2 off) | 4-7 u32 mask | 8-11 u32 module
//   12-15 u32 sess_type (0 none, 1 names, 2 fenk)
//   16-271 char[256] init | 272-527 char[256] tgt | 528-615 zero
// With sess_type 2, bytes 16-31 hold instead:
//   16-19 u32 type (1 i-t-nexus, 2 lrtp, 3 comp, 4 accel) | 20-23 u32 fenk
//   24-27 u32 init_fcid | 28-31 u32 targ_fcid     and bytes 32-615 are zero.
#pragma once

#include <array>
#include <cstdint>

#include "wire/be.h"

namespace wire {

namespace flag_update {
constexpr std::size_t kOp = 0;
constexpr std::size_t kMask = 4;
constexpr std::size_t kModule = 8;
constexpr std::size_t kSessType = 12;
constexpr std::size_t kInit = 16;
constexpr std::size_t kTgt = 272;
constexpr std::size_t kNameSize = 256;
constexpr std::size_t kReserved = 528;
constexpr std::size_t kType = 16;
constexpr std::size_t kFenk = 20;
constexpr std::size_t kInitFcid = 24;
constexpr std::size_t kTargFcid = 28;
constexpr std::size_t kSize = 616;
static_assert(kInit + kNameSize == kTgt);
static_assert(kTgt + kNameSize == kReserved);
static_assert(kReserved + 88 == kSize);
static_assert(kTargFcid + 4 == 32);
}  // namespace flag_update

constexpr std::uint32_t kFlagOpOn = 1;
constexpr std::uint32_t kFlagOpOff = 2;

struct FlagUpdateMsg {
  std::uint32_t op = 0;
  std::uint32_t mask = 0;
  std::uint32_t module = 0;
  std::uint32_t sess_type = 0;
  std::array<std::uint8_t, flag_update::kNameSize> init{};  // sess_type 1
  std::array<std::uint8_t, flag_update::kNameSize> tgt{};   // sess_type 1
  std::uint32_t type = 0;                                   // sess_type 2
  std::uint32_t fenk = 0;
  std::uint32_t init_fcid = 0;
  std::uint32_t targ_fcid = 0;
};

// Writes all 616 bytes: the names when sess_type is not 2, the fenk words
// when it is 2; every other byte zero.
std::array<std::uint8_t, flag_update::kSize> encode_flag_update(const FlagUpdateMsg& m);
// Decodes both views of bytes 16-31; missing bytes read as zero.
FlagUpdateMsg decode_flag_update(Bytes datagram);

}  // namespace wire
