// Planning of the platform's notifications. DPPs are typed one-based on the
// command line, as every report shows them; the notifications carry the DPP
// index, one less (index d is DPP d + 1).
#include "tools/dravikctl/plan.h"
#include "wire/dpp_notify.h"

namespace dravikctl {

namespace {

constexpr std::size_t kMaxEntries = 255;  // a one-byte count

Action notification(std::uint32_t opcode, std::vector<std::uint8_t> payload, std::string done,
                    std::vector<std::uint32_t> dpps) {
  Action act;
  act.check = Check::DppNotify;
  act.numbers = std::move(dpps);
  act.kind = ActionKind::Notify;
  act.opcode = opcode;
  act.payload = std::move(payload);
  act.done = std::move(done);
  return act;
}

std::uint32_t dpp_number(std::uint64_t n) {
  if (n < 1 || n > kMaxDpp)
    throw UsageError("DPP " + std::to_string(n) + ": DPPs are numbered 1 to 32");
  return static_cast<std::uint32_t>(n);
}

}  // namespace

Action plan_dpp_state(bool up, std::uint32_t dpp) {
  const std::uint32_t n = dpp_number(dpp);
  return notification(up ? kOpcodeDppUp : kOpcodeDppDown, wire::encode_dpp_index(n - 1),
                      std::string(up ? "DPP_UP" : "DPP_DOWN") + " for DPP " + std::to_string(n) +
                          " (index " + std::to_string(n - 1) + ")",
                      {n});
}

Action plan_feature_request(std::uint32_t feature, const std::vector<std::uint32_t>& dpps) {
  if (dpps.size() > kMaxEntries) throw UsageError("at most 255 DPPs");
  wire::DnldFeatureRqst r;
  r.feature = feature;
  for (std::uint32_t n : dpps) r.dpps[r.count++] = static_cast<std::uint8_t>(dpp_number(n) - 1);
  return notification(kOpcodeFeatureRqst, wire::encode_feature_rqst(r),
                      "DPP_DNLD_NEW_FEATURE_RQST for " + std::to_string(r.count) + " DPP(s)", dpps);
}

Action plan_feature_complete(std::uint32_t feature, const std::vector<std::string>& entries) {
  if (entries.size() > kMaxEntries) throw UsageError("at most 255 DPPs");
  wire::DnldFeatureComplete c;
  c.feature = feature;
  std::vector<std::uint32_t> dpps;
  for (const std::string& w : entries) {
    std::size_t colon = w.find(':');
    auto n = colon == std::string::npos ? std::nullopt : tools::parse_number(w.substr(0, colon));
    auto status =
        colon == std::string::npos ? std::nullopt : tools::parse_number(w.substr(colon + 1));
    if (!n || !status) throw UsageError("entry \"" + w + "\": DPP:STATUS, e.g. 2:2 (status 2: up)");
    dpps.push_back(dpp_number(*n));
    c.entries[c.count].dpp = static_cast<std::uint16_t>(dpps.back() - 1);
    c.entries[c.count].status = static_cast<std::uint32_t>(*status);
    ++c.count;
  }
  return notification(kOpcodeFeatureComplete, wire::encode_feature_complete(c),
                      "DPP_DNLD_NEW_FEATURE_COMPLETE for " + std::to_string(c.count) + " DPP(s)",
                      dpps);
}

}  // namespace dravikctl
