// DebugRequest: the payload of a per-port debug request from the CLI side.
//
//   0-3     s32  commandID   command id, or the listing id 126
//   4       u8   port        zero-based port (DPP core)
//   5       u8   noFlag      0 switches the bits on, anything else off
//   6-111   text term        requesting terminal, NUL-terminated inside
//   112-367 char[256] init   initiator name (command ids 25 and 33)
//   368-623 char[256] tgt    target name (command ids 25 and 33)
// For the fenk commands (92, 99-102, 109-120) bytes 112-127 hold instead:
//   116-119 u32 fenk | 120-123 u32 init_fcid | 124-127 u32 targ_fcid
// Nothing beyond byte 623 is read.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "wire/be.h"

namespace wire {

namespace debug_request {
constexpr std::size_t kCommandId = 0;
constexpr std::size_t kPort = 4;
constexpr std::size_t kNoFlag = 5;
constexpr std::size_t kTerm = 6;
constexpr std::size_t kTermSize = 106;
constexpr std::size_t kInit = 112;
constexpr std::size_t kTgt = 368;
constexpr std::size_t kNameSize = 256;
constexpr std::size_t kFenk = 116;
constexpr std::size_t kInitFcid = 120;
constexpr std::size_t kTargFcid = 124;
constexpr std::size_t kSize = 624;
static_assert(kTerm + kTermSize == kInit);
static_assert(kInit + kNameSize == kTgt);
static_assert(kTgt + kNameSize == kSize);
static_assert(kTargFcid + 4 <= kInit + kNameSize);
}  // namespace debug_request

// The fenk filter type of a command id, which its flag update carries: 1 for
// id 92 (an initiator-target nexus), 2 for 99-102 (lrtp), 3 for 109-110
// (comp), 4 for 111-120 (accel); 0 for every other id.
constexpr std::uint32_t fenk_filter_type(std::int32_t id) {
  if (id == 92) return 1;
  if (id >= 99 && id <= 102) return 2;
  if (id == 109 || id == 110) return 3;
  if (id >= 111 && id <= 120) return 4;
  return 0;
}
// True for the command ids whose requests carry a fenk number and FC ids.
constexpr bool is_fenk_command(std::int32_t id) { return fenk_filter_type(id) != 0; }
// True for the command ids whose requests carry an initiator and a target name.
constexpr bool carries_names(std::int32_t id) { return id == 25 || id == 33; }

struct DebugRequest {
  std::int32_t commandID = 0;
  std::uint8_t port = 0;
  std::uint8_t noFlag = 0;
  char term[debug_request::kTermSize + 1] = {};  // always NUL-terminated
  bool term_terminated = false;                  // the field held a NUL of its own
  // The raw 256 bytes of each name field, plus a terminator for printing.
  char init[debug_request::kNameSize + 1] = {};
  char tgt[debug_request::kNameSize + 1] = {};
  // The fenk view of bytes 116-127 (always decoded; meaningful for fenk ids).
  std::uint32_t fenk = 0;
  std::uint32_t init_fcid = 0;
  std::uint32_t targ_fcid = 0;

  bool operator==(const DebugRequest&) const = default;
};

DebugRequest decode_debug_request(Bytes payload);

// Encodes 624 bytes. Names go to 112 and 368; for a fenk command id the three
// words are then written over bytes 116-127.
std::vector<std::uint8_t> encode_debug_request(const DebugRequest& r);

}  // namespace wire
