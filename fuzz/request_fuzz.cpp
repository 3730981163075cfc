// One VESK request frame (opcode, flags, tag, payload) through the daemon's
// own request handling: the per-port relay, the release of every
// subscription, the XIPC rebind and the log manager's requests and
// notifications.
#include "fuzz/fuzz.h"
#include "wire/debug_request.h"
#include "wire/dpp_notify.h"

namespace {
fuzz::Daemon* daemon_under_test;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  wire::DebugRequest sub{1, 2, 0, "\x01"};
  wire::DebugRequest fenk{101, 3, 0, "\x02"};
  wire::DebugRequest listing{126, 0, 0, "\x00"};
  wire::DnldFeatureComplete done{0x1234, 2, {{{1, 2}, {3, 2}}}};
  fuzz::write_seeds({
      fuzz::vesk(1, wire::encode_debug_request(sub)),
      fuzz::vesk(1, wire::encode_debug_request(fenk)),
      fuzz::vesk(1, wire::encode_debug_request(listing)),
      fuzz::set_debug(wire::kSetDebugCategories, 1, 0, 5, "\x01"),
      fuzz::set_debug(wire::kSetDebugDppMap, 1, 1, 0, "\x00"),
      fuzz::set_debug(wire::kSetDebugLevel, 0, 0, 7),
      fuzz::set_debug(wire::kSetDebugOutputFile, 1, 0, 0, "dbg"),
      fuzz::vesk(kOpcodeShowDebug, {}),
      fuzz::vesk(kOpcodeFeatureComplete, wire::encode_feature_complete(done)),
      fuzz::vesk(kOpcodeDppUp, wire::encode_dpp_index(2)),
      fuzz::vesk(kOpcodeTimezone, wire::Bytes(reinterpret_cast<const std::uint8_t*>("UTC0"), 5)),
      fuzz::vesk(kOpcodeRebindXipc, wire::encode_dpp_index(1)),
      fuzz::vesk(kOpcodeReleaseAll, {}),
  });
  daemon_under_test = new fuzz::Daemon;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto copy = fuzz::exact_copy(data, size);
  daemon_under_test->request(fuzz::Frame(copy.get(), copy.get() + size));
  daemon_under_test->tidy();
  return 0;
}
