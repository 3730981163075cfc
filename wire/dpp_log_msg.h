// What the DPPs send to the daemon's XIPC endpoint (from module 39).
//
// PortDebugTextMsg (sender opcode 88):
//   0-7 not read | 8-11 u32 length | 12-19 not read | 20.. text (NUL-terminated)
// DppLogMsg (any other sender opcode):
//   0-7 not read | 8-11 u32 length (categories 3, 4) | 12-15 u32 category
//   16-19 not read | 20-51 IpcMsgHeader (categories 1, 2) | 52.. text
// IpcMsgHeader, 32 bytes (offsets within the block):
//   0-1 u16 opc | 2 u8 ver | 3 u8 ctrl | 4-5 u16 size | 6-7 u16 src
//   8-9 not read | 10-11 u16 dst | 12 u8 status | 13 u8 queue
//   14-15 u16 frm_len | 16-19 not read | 20-23 u32 frm_ptr | 24-31 not read
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "wire/be.h"

namespace wire {

namespace dpp_log {
constexpr std::size_t kRecvSize = 2240;  // the intake's receive buffer
constexpr std::size_t kLength = 8;
constexpr std::size_t kCategory = 12;
constexpr std::size_t kHeader = 20;
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kPortText = 20;
constexpr std::size_t kLogText = 52;
static_assert(kHeader + kHeaderSize == kLogText);
static_assert(kRecvSize - kPortText == 2220);
static_assert(kRecvSize - kLogText == 2188);
}  // namespace dpp_log

namespace ipc_header {
constexpr std::size_t kOpc = 0;
constexpr std::size_t kVer = 2;
constexpr std::size_t kCtrl = 3;
constexpr std::size_t kSize = 4;
constexpr std::size_t kSrc = 6;
constexpr std::size_t kDst = 10;
constexpr std::size_t kStatus = 12;
constexpr std::size_t kQueue = 13;
constexpr std::size_t kFrmLen = 14;
constexpr std::size_t kFrmPtr = 20;
static_assert(kFrmPtr + 4 + 8 == dpp_log::kHeaderSize);
}  // namespace ipc_header

constexpr std::uint32_t kCategoryPlain = 0x80;  // log the text plainly
constexpr std::uint8_t kIpcCtrlFrame = 0x04;    // frm_ptr/frm_len present

struct IpcMsgHeader {
  std::uint16_t opc = 0;
  std::uint8_t ver = 0;
  std::uint8_t ctrl = 0;
  std::uint16_t size = 0;
  std::uint16_t src = 0;
  std::uint16_t dst = 0;
  std::uint8_t status = 0;
  std::uint8_t queue = 0;
  std::uint16_t frm_len = 0;
  std::uint32_t frm_ptr = 0;
};

// Decodes the 32-byte block starting at `off` of d; bytes past d read as zero.
IpcMsgHeader decode_ipc_header(Bytes d, std::size_t off = dpp_log::kHeader);

// Encoders for DPP senders (tools and tests). The text is written with its NUL.
std::vector<std::uint8_t> encode_port_debug_text(std::uint32_t length, std::string_view text);
std::vector<std::uint8_t> encode_dpp_log(std::uint32_t length, std::uint32_t category,
                                         const IpcMsgHeader& header, std::string_view text);

}  // namespace wire
