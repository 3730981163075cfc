#include "wire/set_debug_request.h"

namespace wire {

using namespace set_debug;

SetDebugRequest decode_set_debug(Bytes p) {
  SetDebugRequest r;
  r.type = get_u8(p, kType);
  r.on = get_u8(p, kOn);
  r.all = get_u8(p, kAll);
  r.flag = get_u8(p, kFlag);
  r.dpp_mask = get_u32(p, kDppMask);
  r.level = get_u8(p, kLevel);
  for (std::size_t w = 0; w < kFilterWords; ++w) r.filters[w] = get_u32(p, kFilters + 4 * w);
  if (p.size() > kName) {
    const char* start = reinterpret_cast<const char*>(p.data() + kName);
    std::size_t avail = p.size() - kName;
    std::size_t n = 0;
    while (n < avail && start[n] != '\0') ++n;
    r.name = std::string_view(start, n);
    r.name_terminated = n < avail;
  }
  return r;
}

std::vector<std::uint8_t> encode_set_debug(const SetDebugRequest& r) {
  std::vector<std::uint8_t> out(kName + r.name.size() + 1, 0);
  put_u8(out, kType, r.type);
  put_u8(out, kOn, r.on);
  put_u8(out, kAll, r.all);
  if (r.type == kSetDebugCategories) put_u8(out, kFlag, r.flag);
  if (r.type == kSetDebugDppMap) put_u32(out, kDppMask, r.dpp_mask);
  if (r.type == kSetDebugLevel) put_u8(out, kLevel, r.level);
  for (std::size_t w = 0; w < kFilterWords; ++w) put_u32(out, kFilters + 4 * w, r.filters[w]);
  put_raw(out, kName, r.name.data(), r.name.size());
  return out;
}

}  // namespace wire
