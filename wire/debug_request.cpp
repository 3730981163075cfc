#include "wire/debug_request.h"

#include <cstring>

namespace wire {

using namespace debug_request;

DebugRequest decode_debug_request(Bytes p) {
  DebugRequest r;
  r.commandID = static_cast<std::int32_t>(get_u32(p, kCommandId));
  r.port = get_u8(p, kPort);
  r.noFlag = get_u8(p, kNoFlag);
  r.term_terminated = get_text(p, kTerm, kTermSize, r.term, sizeof r.term);
  get_raw(p, kInit, r.init, kNameSize);
  get_raw(p, kTgt, r.tgt, kNameSize);
  r.init[kNameSize] = '\0';
  r.tgt[kNameSize] = '\0';
  r.fenk = get_u32(p, kFenk);
  r.init_fcid = get_u32(p, kInitFcid);
  r.targ_fcid = get_u32(p, kTargFcid);
  return r;
}

std::vector<std::uint8_t> encode_debug_request(const DebugRequest& r) {
  std::vector<std::uint8_t> out(kSize, 0);
  put_u32(out, kCommandId, static_cast<std::uint32_t>(r.commandID));
  put_u8(out, kPort, r.port);
  put_u8(out, kNoFlag, r.noFlag);
  put_text(out, kTerm, kTermSize, std::string_view(r.term, strnlen(r.term, kTermSize)));
  put_raw(out, kInit, r.init, kNameSize);
  put_raw(out, kTgt, r.tgt, kNameSize);
  if (is_fenk_command(r.commandID)) {
    put_u32(out, kFenk, r.fenk);
    put_u32(out, kInitFcid, r.init_fcid);
    put_u32(out, kTargFcid, r.targ_fcid);
  }
  return out;
}

}  // namespace wire
