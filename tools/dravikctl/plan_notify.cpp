// Planning of the platform's notifications. DPPs are typed one-based on the
// command line, as every report shows them; the notifications carry the DPP
// index, one less (index d is DPP d + 1).
#include "tools/dravikctl/args.h"
#include "tools/dravikctl/plan.h"
#include "wire/dpp_notify.h"

namespace dravikctl {

namespace {

constexpr std::uint32_t kMaxDpp = 32;
constexpr std::size_t kMaxEntries = 255;  // a one-byte count

Action notification(std::uint32_t opcode, std::vector<std::uint8_t> payload, std::string done) {
  Action act;
  act.kind = ActionKind::Notify;
  act.opcode = opcode;
  act.payload = std::move(payload);
  act.done = std::move(done);
  return act;
}

std::optional<std::uint32_t> dpp_number(std::string_view w) {
  auto n = parse_number(w);
  if (!n || *n < 1 || *n > kMaxDpp) return std::nullopt;
  return n;
}

Plan plan_dpp_state(const Args& a, bool up) {
  const std::string topic = up ? "notify dpp-up" : "notify dpp-down";
  if (a.words.size() != 3) return UsageError{"usage: " + topic + " N", topic};
  auto n = dpp_number(a.words[2]);
  if (!n) return UsageError{"DPP \"" + a.words[2] + "\": DPPs are numbered 1 to 32", topic};
  return notification(up ? kOpcodeDppUp : kOpcodeDppDown, wire::encode_dpp_index(*n - 1),
                      std::string(up ? "DPP_UP" : "DPP_DOWN") + " for DPP " + std::to_string(*n) +
                          " (index " + std::to_string(*n - 1) + ")");
}

Plan plan_feature_request(const Args& a) {
  const std::string topic = "notify feature-request";
  if (a.words.size() < 3) return UsageError{"usage: " + topic + " FEATURE N...", topic};
  auto feature = parse_number(a.words[2]);
  if (!feature) return UsageError{"feature \"" + a.words[2] + "\" is not a number", topic};
  if (a.words.size() - 3 > kMaxEntries) return UsageError{"at most 255 DPPs", topic};
  wire::DnldFeatureRqst r;
  r.feature = *feature;
  for (std::size_t i = 3; i < a.words.size(); ++i) {
    auto n = dpp_number(a.words[i]);
    if (!n) return UsageError{"DPP \"" + a.words[i] + "\": DPPs are numbered 1 to 32", topic};
    r.dpps[r.count++] = static_cast<std::uint8_t>(*n - 1);
  }
  return notification(kOpcodeFeatureRqst, wire::encode_feature_rqst(r),
                      "DPP_DNLD_NEW_FEATURE_RQST for " + std::to_string(r.count) + " DPP(s)");
}

Plan plan_feature_complete(const Args& a) {
  const std::string topic = "notify feature-complete";
  if (a.words.size() < 3) return UsageError{"usage: " + topic + " FEATURE N:STATUS...", topic};
  auto feature = parse_number(a.words[2]);
  if (!feature) return UsageError{"feature \"" + a.words[2] + "\" is not a number", topic};
  if (a.words.size() - 3 > kMaxEntries) return UsageError{"at most 255 DPPs", topic};
  wire::DnldFeatureComplete c;
  c.feature = *feature;
  for (std::size_t i = 3; i < a.words.size(); ++i) {
    const std::string& w = a.words[i];
    std::size_t colon = w.find(':');
    auto n = colon == std::string::npos ? std::nullopt : dpp_number(w.substr(0, colon));
    auto status = colon == std::string::npos ? std::nullopt : parse_number(w.substr(colon + 1));
    if (!n || !status)
      return UsageError{"entry \"" + w + "\": DPP:STATUS, e.g. 2:2 (status 2: up)", topic};
    c.entries[c.count].dpp = static_cast<std::uint16_t>(*n - 1);
    c.entries[c.count].status = *status;
    ++c.count;
  }
  return notification(kOpcodeFeatureComplete, wire::encode_feature_complete(c),
                      "DPP_DNLD_NEW_FEATURE_COMPLETE for " + std::to_string(c.count) + " DPP(s)");
}

}  // namespace

Plan plan_notify(const Args& a) {
  const std::string_view what = a.words.size() > 1 ? std::string_view(a.words[1]) : "";
  if (what == "dpp-up") return plan_dpp_state(a, true);
  if (what == "dpp-down") return plan_dpp_state(a, false);
  if (what == "feature-request") return plan_feature_request(a);
  if (what == "feature-complete") return plan_feature_complete(a);
  if (what == "feature-failed") {
    if (a.words.size() != 2)
      return UsageError{"\"notify feature-failed\" takes no words", "notify feature-failed"};
    return notification(kOpcodeFeatureFailed, {}, "DPP_DNLD_NEW_FEATURE_FAILED");
  }
  if (what == "timezone") {
    if (a.words.size() != 3) return UsageError{"usage: notify timezone TZ", "notify timezone"};
    const std::string& tz = a.words[2];
    std::vector<std::uint8_t> payload(tz.begin(), tz.end());
    payload.push_back(0);  // the daemon reads a NUL-terminated text
    return notification(kOpcodeTimezone, std::move(payload), "time zone " + tz);
  }
  if (what.empty())
    return UsageError{
        "notify what? dpp-up, dpp-down, feature-request, feature-complete, "
        "feature-failed or timezone",
        "notify"};
  return UsageError{"unknown notification \"" + std::string(what) + "\"", "notify"};
}

}  // namespace dravikctl
