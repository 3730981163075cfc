#include "wire/dpp_notify.h"

namespace wire {

using namespace dpp_notify;

std::uint32_t decode_dpp_index(Bytes p) { return get_u32(p, kDppIndex); }

DnldFeatureRqst decode_feature_rqst(Bytes p) {
  DnldFeatureRqst r;
  r.feature = get_u32(p, kFeature);
  r.count = get_u8(p, kRqstCount);
  for (std::size_t i = 0; i < r.count; ++i) r.dpps[i] = get_u8(p, kRqstDpps + i);
  return r;
}

DnldFeatureComplete decode_feature_complete(Bytes p) {
  DnldFeatureComplete c;
  c.feature = get_u32(p, kFeature);
  c.count = get_u8(p, kCompleteCount);
  for (std::size_t i = 0; i < c.count; ++i) {
    std::size_t at = kCompleteEntries + i * kEntrySize;
    c.entries[i].dpp = get_u16(p, at + kEntryDpp);
    c.entries[i].status = get_u32(p, at + kEntryStatus);
  }
  return c;
}

std::vector<std::uint8_t> encode_dpp_index(std::uint32_t d) {
  std::vector<std::uint8_t> out(4);
  put_u32(out, kDppIndex, d);
  return out;
}

std::vector<std::uint8_t> encode_feature_rqst(const DnldFeatureRqst& r) {
  std::vector<std::uint8_t> out(kRqstDpps + r.count, 0);
  put_u32(out, kFeature, r.feature);
  put_u8(out, kRqstCount, r.count);
  for (std::size_t i = 0; i < r.count; ++i) put_u8(out, kRqstDpps + i, r.dpps[i]);
  return out;
}

std::vector<std::uint8_t> encode_feature_complete(const DnldFeatureComplete& c) {
  std::vector<std::uint8_t> out(kCompleteEntries + c.count * kEntrySize, 0);
  put_u32(out, kFeature, c.feature);
  put_u8(out, kCompleteCount, c.count);
  for (std::size_t i = 0; i < c.count; ++i) {
    std::size_t at = kCompleteEntries + i * kEntrySize;
    put_u16(out, at + kEntryDpp, c.entries[i].dpp);
    put_u32(out, at + kEntryStatus, c.entries[i].status);
  }
  return out;
}

}  // namespace wire
