// What dravikctl observes, once the daemon has answered, to learn whether it
// did what was asked. The daemon's replies say nothing of the kind (a
// per-port request is answered with 5000 zero bytes whatever happened, a
// SET_DEBUG with an empty reply), so the truth comes from what the host
// platform shows: the log manager's report, the listing, the DPPs' endpoints,
// the terminal as the daemon opens it, the card's log files and links, and
// the card-type record.
#pragma once

#include <optional>
#include <string>

#include "tools/client/platform_dir.h"
#include "tools/dravikctl/plan.h"

namespace dravikctl {

using tools::kExitNotDone, tools::kExitOk, tools::kExitUsage;
constexpr int kExitNoAnswer = tools::kExitFailed;  // no answer in time, or not reachable

// A request the daemon answers: its reply text, or the exit status after
// saying why there is none (not reachable, or no answer in time).
struct Answer {
  std::optional<std::string> text;
  int status = kExitOk;
};
Answer ask(const client::PlatformDir& p, std::uint32_t opcode,
           const std::vector<std::uint8_t>& payload, std::chrono::milliseconds timeout);

// The log manager's report, for the table and the checks.
Answer ask_report(const client::PlatformDir& p, std::chrono::milliseconds timeout);

// Before a log file set is opened: when its files already hold records and
// it is not the set already open, says that they would be emptied and
// returns kExitUsage (unless a.force). Nothing when the request may go.
std::optional<int> refuse_to_empty(const client::PlatformDir& p, const Action& a);

// After the daemon took a's message(s): checks a.check, prints what did not
// happen (and what to do) on standard error, and returns kExitOk,
// kExitNotDone, or kExitNoAnswer when a request of the check went unanswered.
int verify(const client::PlatformDir& p, const Action& a);

}  // namespace dravikctl
