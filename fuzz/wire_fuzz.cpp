// Every wire decoder on the same input, each checked by a round trip: what a
// decoder makes of its own encoder's output must encode to the same bytes
// again (decode never leaves the buffer, encode and decode agree on every
// offset). Where a message has one view of its bytes, the decoded message
// must also survive its own encoding field for field, read as the daemon
// reads a payload: from a buffer that is zero past the bytes received.
#include <algorithm>
#include <cstring>

#include "fuzz/fuzz.h"
#include "wire/debug_request.h"
#include "wire/dpp_flag_msg.h"
#include "wire/dpp_log_msg.h"
#include "wire/dpp_notify.h"
#include "wire/flag_update_msg.h"

namespace {

using wire::Bytes;

std::vector<std::uint8_t> padded;

template <class Decode, class Encode>
void round_trip(Bytes in, Decode decode, Encode encode) {
  const auto once = encode(decode(in));
  const auto twice = encode(decode(Bytes(once.data(), once.size())));
  if (!std::ranges::equal(once, twice)) __builtin_trap();
  if constexpr (std::equality_comparable<decltype(decode(in))>) {
    const auto message = decode(Bytes(padded));
    const auto bytes = encode(message);
    if (!(decode(Bytes(bytes.data(), bytes.size())) == message)) __builtin_trap();
  }
}

std::string_view text_at(Bytes b, std::size_t off) {
  if (off >= b.size()) return {};
  const char* t = reinterpret_cast<const char*>(b.data() + off);
  return {t, strnlen(t, b.size() - off)};
}

struct LogMsg {
  Bytes b;
  wire::IpcMsgHeader h;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  wire::DebugRequest fenk{101, 3, 0, "/dev/pts/1"};
  fenk.fenk = 7;
  wire::FlagUpdateMsg names{wire::kFlagOpOn, 0x10, 39, 1};
  names.init.fill('i');
  wire::DppFlagMsg flags{29, 7, 0x1FFFFFFF};
  flags.filters[4] = {1, 0, 0, 0x10};
  wire::DnldFeatureComplete done{0x1234, 2, {{{1, 2}, {3, 0}}}};
  const auto a = wire::encode_flag_update(names);
  const auto f = wire::encode_dpp_flag(flags);
  fuzz::write_seeds({wire::encode_debug_request(fenk),
                     {a.begin(), a.end()},
                     {f.begin(), f.end()},
                     wire::encode_dpp_log(0, 2, {0x185, 2, 4, 64}, "rec"),
                     wire::encode_feature_complete(done),
                     fuzz::set_debug(wire::kSetDebugDppMap, 1, 0, 3, "/dev/pts/2")});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto copy = fuzz::exact_copy(data, size);
  const Bytes in(copy.get(), size);
  padded.assign(wire::vesk_frame::kRequestHeader + wire::vesk_frame::kMaxPayload + 1, 0);
  std::copy(in.begin(), in.begin() + std::min(size, padded.size()), padded.begin());
  round_trip(in, wire::decode_debug_request, wire::encode_debug_request);
  round_trip(in, wire::decode_flag_update, wire::encode_flag_update);
  round_trip(in, wire::decode_dpp_flag, wire::encode_dpp_flag);
  round_trip(in, wire::decode_set_debug, wire::encode_set_debug);
  round_trip(in, wire::decode_dpp_index, wire::encode_dpp_index);
  round_trip(in, wire::decode_feature_rqst, wire::encode_feature_rqst);
  round_trip(in, wire::decode_feature_complete, wire::encode_feature_complete);
  round_trip(in, wire::decode_vesk_request, wire::encode_vesk_request);
  round_trip(in, wire::decode_vesk_reply, wire::encode_vesk_reply);
  round_trip(in, client::decode_xipc_frame, [](const client::XipcFrame& f) {
    return client::encode_xipc_frame(f.sender, f.payload);
  });
  round_trip(
      in,
      [](Bytes b) {
        return LogMsg{b, wire::decode_ipc_header(b)};
      },
      [](const LogMsg& m) {
        return wire::encode_dpp_log(wire::get_u32(m.b, wire::dpp_log::kLength),
                                    wire::get_u32(m.b, wire::dpp_log::kCategory), m.h,
                                    text_at(m.b, wire::dpp_log::kLogText));
      });
  round_trip(
      in, [](Bytes b) { return b; },
      [](Bytes b) {
        return wire::encode_port_debug_text(wire::get_u32(b, wire::dpp_log::kLength),
                                            text_at(b, wire::dpp_log::kPortText));
      });
  return 0;
}
