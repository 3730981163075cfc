#include "wire/vesk_frame.h"

namespace wire {

std::vector<std::uint8_t> encode_vesk_request(const VeskRequestFrame& f) {
  std::vector<std::uint8_t> out(vesk_frame::kRequestHeader + f.payload.size());
  put_u32(out, vesk_frame::kOpcode, f.opcode);
  put_u32(out, vesk_frame::kFlags, f.flags);
  put_u32(out, vesk_frame::kTag, f.tag);
  put_raw(out, vesk_frame::kRequestHeader, f.payload.data(), f.payload.size());
  return out;
}

VeskRequestFrame decode_vesk_request(Bytes d) {
  VeskRequestFrame f;
  f.opcode = get_u32(d, vesk_frame::kOpcode);
  f.flags = get_u32(d, vesk_frame::kFlags);
  f.tag = get_u32(d, vesk_frame::kTag);
  if (d.size() > vesk_frame::kRequestHeader) {
    std::size_t n = d.size() - vesk_frame::kRequestHeader;
    if (n > vesk_frame::kMaxPayload) n = vesk_frame::kMaxPayload;
    f.payload.assign(d.begin() + vesk_frame::kRequestHeader,
                     d.begin() + vesk_frame::kRequestHeader + n);
  }
  return f;
}

std::vector<std::uint8_t> encode_vesk_reply(const VeskReplyFrame& f) {
  std::vector<std::uint8_t> out(vesk_frame::kReplyPayload + f.payload.size());
  put_raw(out, vesk_frame::kReplyHeader, f.header.data(), f.header.size());
  put_u32(out, vesk_frame::kReplyOpcode, f.opcode);
  put_u32(out, vesk_frame::kReplyTag, f.tag);
  put_raw(out, vesk_frame::kReplyPayload, f.payload.data(), f.payload.size());
  return out;
}

VeskReplyFrame decode_vesk_reply(Bytes d) {
  VeskReplyFrame f;
  get_raw(d, vesk_frame::kReplyHeader, f.header.data(), f.header.size());
  f.opcode = get_u32(d, vesk_frame::kReplyOpcode);
  f.tag = get_u32(d, vesk_frame::kReplyTag);
  if (d.size() > vesk_frame::kReplyPayload)
    f.payload.assign(d.begin() + vesk_frame::kReplyPayload, d.end());
  return f;
}

}  // namespace wire
