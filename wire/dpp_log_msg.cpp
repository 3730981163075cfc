#include "wire/dpp_log_msg.h"

namespace wire {

using namespace dpp_log;

IpcMsgHeader decode_ipc_header(Bytes d, std::size_t off) {
  // Read through a view of the block itself, so that no offset sum can wrap
  // around and land back inside the buffer.
  Bytes b = off < d.size() ? d.subspan(off) : Bytes{};
  IpcMsgHeader h;
  h.opc = get_u16(b, ipc_header::kOpc);
  h.ver = get_u8(b, ipc_header::kVer);
  h.ctrl = get_u8(b, ipc_header::kCtrl);
  h.size = get_u16(b, ipc_header::kSize);
  h.src = get_u16(b, ipc_header::kSrc);
  h.dst = get_u16(b, ipc_header::kDst);
  h.status = get_u8(b, ipc_header::kStatus);
  h.queue = get_u8(b, ipc_header::kQueue);
  h.frm_len = get_u16(b, ipc_header::kFrmLen);
  h.frm_ptr = get_u32(b, ipc_header::kFrmPtr);
  return h;
}

std::vector<std::uint8_t> encode_port_debug_text(std::uint32_t length, std::string_view text) {
  std::vector<std::uint8_t> out(kPortText + text.size() + 1, 0);
  put_u32(out, kLength, length);
  put_raw(out, kPortText, text.data(), text.size());
  return out;
}

std::vector<std::uint8_t> encode_dpp_log(std::uint32_t length, std::uint32_t category,
                                         const IpcMsgHeader& h, std::string_view text) {
  std::vector<std::uint8_t> out(kLogText + text.size() + 1, 0);
  put_u32(out, kLength, length);
  put_u32(out, kCategory, category);
  put_u16(out, kHeader + ipc_header::kOpc, h.opc);
  put_u8(out, kHeader + ipc_header::kVer, h.ver);
  put_u8(out, kHeader + ipc_header::kCtrl, h.ctrl);
  put_u16(out, kHeader + ipc_header::kSize, h.size);
  put_u16(out, kHeader + ipc_header::kSrc, h.src);
  put_u16(out, kHeader + ipc_header::kDst, h.dst);
  put_u8(out, kHeader + ipc_header::kStatus, h.status);
  put_u8(out, kHeader + ipc_header::kQueue, h.queue);
  put_u16(out, kHeader + ipc_header::kFrmLen, h.frm_len);
  put_u32(out, kHeader + ipc_header::kFrmPtr, h.frm_ptr);
  put_raw(out, kLogText, text.data(), text.size());
  return out;
}

}  // namespace wire
