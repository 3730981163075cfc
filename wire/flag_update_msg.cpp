#include "wire/flag_update_msg.h"

namespace wire {

using namespace flag_update;

std::array<std::uint8_t, kSize> encode_flag_update(const FlagUpdateMsg& m) {
  std::array<std::uint8_t, kSize> out{};
  put_u32(out, kOp, m.op);
  put_u32(out, kMask, m.mask);
  put_u32(out, kModule, m.module);
  put_u32(out, kSessType, m.sess_type);
  if (m.sess_type == 2) {
    put_u32(out, kType, m.type);
    put_u32(out, kFenk, m.fenk);
    put_u32(out, kInitFcid, m.init_fcid);
    put_u32(out, kTargFcid, m.targ_fcid);
  } else {
    put_raw(out, kInit, m.init.data(), kNameSize);
    put_raw(out, kTgt, m.tgt.data(), kNameSize);
  }
  return out;
}

FlagUpdateMsg decode_flag_update(Bytes d) {
  FlagUpdateMsg m;
  m.op = get_u32(d, kOp);
  m.mask = get_u32(d, kMask);
  m.module = get_u32(d, kModule);
  m.sess_type = get_u32(d, kSessType);
  get_raw(d, kInit, m.init.data(), kNameSize);
  get_raw(d, kTgt, m.tgt.data(), kNameSize);
  m.type = get_u32(d, kType);
  m.fenk = get_u32(d, kFenk);
  m.init_fcid = get_u32(d, kInitFcid);
  m.targ_fcid = get_u32(d, kTargFcid);
  return m;
}

}  // namespace wire
