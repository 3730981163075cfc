// Frames of the host message transport (VESK over AF_UNIX datagrams).
//
// Request frame, sent by anyone to a service access point:
//   0-3 u32 opcode | 4-7 u32 flags | 8-11 u32 tag | 12.. payload
// Reply frame, sent back to the requester's own address:
//   0-7 reply header as passed | 8-11 u32 request opcode | 12-15 u32 request tag
//   | 16.. payload
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "wire/be.h"

namespace wire {

namespace vesk_frame {
constexpr std::size_t kOpcode = 0;
constexpr std::size_t kFlags = 4;
constexpr std::size_t kTag = 8;
constexpr std::size_t kRequestHeader = 12;
constexpr std::size_t kMaxPayload = 16384;

constexpr std::size_t kReplyHeader = 0;
constexpr std::size_t kReplyHeaderSize = 8;
constexpr std::size_t kReplyOpcode = 8;
constexpr std::size_t kReplyTag = 12;
constexpr std::size_t kReplyPayload = 16;

// Request flag bits.
constexpr std::uint32_t kFlagReject = 1;
constexpr std::uint32_t kFlagCorvan = 2;
static_assert(kTag + 4 == kRequestHeader);
static_assert(kReplyTag + 4 == kReplyPayload);
}  // namespace vesk_frame

// The 8-byte header every reply of the daemon carries.
inline constexpr std::array<std::uint8_t, 8> kReplyHeaderBytes = {0xFE, 0, 0, 0, 0, 0, 0, 0};

struct VeskRequestFrame {
  std::uint32_t opcode = 0;
  std::uint32_t flags = 0;
  std::uint32_t tag = 0;
  std::vector<std::uint8_t> payload;

  bool operator==(const VeskRequestFrame&) const = default;
};

struct VeskReplyFrame {
  std::array<std::uint8_t, 8> header{};
  std::uint32_t opcode = 0;
  std::uint32_t tag = 0;
  std::vector<std::uint8_t> payload;

  bool operator==(const VeskReplyFrame&) const = default;
};

std::vector<std::uint8_t> encode_vesk_request(const VeskRequestFrame& f);
// A datagram shorter than 12 bytes reads as if zero-padded; a payload longer
// than kMaxPayload is cut to it.
VeskRequestFrame decode_vesk_request(Bytes datagram);

std::vector<std::uint8_t> encode_vesk_reply(const VeskReplyFrame& f);
VeskReplyFrame decode_vesk_reply(Bytes datagram);

}  // namespace wire
