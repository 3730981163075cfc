// A conversation: one input split into VESK request frames and DPP datagrams
// of both kinds (per-port text and log records), handled in turn with the
// daemon's state carried from one to the next.
//
// Input: records of [kind][length, u16][length bytes]. Kind % 3 == 0: a VESK
// request frame; 1: per-port debug text, 2: a log record, both as
// [sending core][datagram payload].
#include "fuzz/fuzz.h"
#include "wire/debug_request.h"
#include "wire/dpp_log_msg.h"
#include "wire/dpp_notify.h"

namespace {

fuzz::Daemon* daemon_under_test;

void add(fuzz::Frame& seed, std::uint8_t kind, const fuzz::Frame& body) {
  seed.push_back(kind);
  seed.push_back(static_cast<std::uint8_t>(body.size() >> 8));
  seed.push_back(static_cast<std::uint8_t>(body.size()));
  seed.insert(seed.end(), body.begin(), body.end());
}

// A per-port request, its payload cut after the terminal selector and its NUL
// (the daemon reads a short payload as zero-padded).
fuzz::Frame port(std::int32_t id, std::uint8_t p, std::uint8_t no, char term) {
  auto payload = wire::encode_debug_request({id, p, no, {term}});
  payload.resize(wire::debug_request::kTerm + 2);
  return fuzz::vesk(1, payload);
}

fuzz::Frame from_dpp(std::uint8_t core, const fuzz::Frame& payload) {
  fuzz::Frame f{core};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

// Both kinds of datagram from the first dpps DPPs, appended to s.
void traffic(fuzz::Frame& s, std::uint8_t dpps) {
  for (std::uint8_t core = 0; core < 4 * dpps; core += 4) {
    add(s, 1, from_dpp(core, wire::encode_port_debug_text(20, "tcp: SYN\n\nsent")));
    add(s, 2, from_dpp(core, wire::encode_dpp_log(0, 5, {}, "refill")));
    add(s, 2, from_dpp(core, wire::encode_dpp_log(0, 2, {0x185, 2, 4, 64}, "")));
    add(s, 2, from_dpp(core, wire::encode_dpp_log(9, 3, {}, "a\nb")));
  }
}

std::vector<fuzz::Frame> seeds() {
  fuzz::Frame full, twice, files, updown;
  for (int i = 0; i <= 100; ++i) add(full, 0, port(1 + i % 3, static_cast<std::uint8_t>(i), 0, 0));
  add(full, 0, port(126, 0, 0, 1));
  for (char term : {0, 1, 0})
    for (std::uint8_t no : {0, 1, 1}) add(twice, 0, port(25, 1, no, term));
  add(twice, 0, fuzz::vesk(kOpcodeReleaseAll, {}));
  add(twice, 0, fuzz::vesk(kOpcodeReleaseAll, {}));
  add(files, 0, fuzz::set_debug(wire::kSetDebugOutputFile, 1, 0, 0, "dbg"));
  add(files, 0, fuzz::set_debug(wire::kSetDebugDppMap, 1, 1, 0, "\x01"));
  add(files, 0, fuzz::set_debug(wire::kSetDebugCategories, 1, 1, 0, "\x01"));
  traffic(files, 4);
  add(files, 0, fuzz::set_debug(wire::kSetDebugOutputFile, 1, 0, 0, "other"));
  traffic(files, 2);
  add(files, 0, fuzz::vesk(kOpcodeShowDebug, {}));
  add(files, 0, fuzz::set_debug(wire::kSetDebugOutputFile, 0, 0, 0, "other"));
  traffic(files, 1);
  wire::DnldFeatureRqst off{wire::kFeaturePlinderOff, 2, {1, 2}};
  wire::DnldFeatureComplete back{0x1234, 2, {{{1, 2}, {2, 2}}}};
  for (std::uint32_t d = 0; d < 4; ++d)
    add(updown, 0, fuzz::vesk(kOpcodeDppUp, wire::encode_dpp_index(d)));
  add(updown, 0, fuzz::vesk(kOpcodeDppDown, wire::encode_dpp_index(3)));
  add(updown, 0, fuzz::vesk(kOpcodeFeatureRqst, wire::encode_feature_rqst(off)));
  add(updown, 0, fuzz::vesk(kOpcodeRebindXipc, wire::encode_dpp_index(1)));
  traffic(updown, 4);
  add(updown, 0, fuzz::vesk(kOpcodeRebindXipc, wire::encode_dpp_index(0)));
  add(updown, 0, fuzz::vesk(kOpcodeFeatureComplete, wire::encode_feature_complete(back)));
  traffic(updown, 4);
  return {full, twice, files, updown};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::write_seeds(seeds());
  daemon_under_test = new fuzz::Daemon;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto copy = fuzz::exact_copy(data, size);
  const std::uint8_t* p = copy.get();
  const std::uint8_t* end = p + size;
  while (end - p >= 3) {
    const std::uint8_t kind = p[0] % 3;
    const auto len =
        std::min<std::size_t>((p[1] << 8) | p[2], static_cast<std::size_t>(end - p - 3));
    const fuzz::Frame body(p + 3, p + 3 + len);
    p += 3 + len;
    if (kind == 0) {
      daemon_under_test->request(body);
    } else if (!body.empty()) {
      const wire::Bytes payload(body.data() + 1, body.size() - 1);
      daemon_under_test->datagram(body[0], kind == 1 ? kXipcOpcodePortDebug : 1, payload);
    }
  }
  daemon_under_test->tidy();
  return 0;
}
