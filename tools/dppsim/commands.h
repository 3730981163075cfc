// dppsim's two commands, once main.cpp has parsed their command lines. Each
// returns the exit status: 0 done, 1 the daemon (or the platform) could not
// be reached. A wrong command line (2) never gets this far.
#pragma once

#include "tools/cli/numbers.h"
#include "tools/dppsim/dpp_state.h"
#include "tools/dppsim/send_plan.h"

namespace dppsim {

using tools::kExitFailed, tools::kExitOk;

struct RunOptions {
  unsigned dpps = kMaxDpps;
  unsigned cores_per_dpp = kCoresPerDpp;
};

// dppsim run: the card's DPPs, until SIGINT or SIGTERM; SIGUSR1 prints their
// state.
int run_dpps(const RunOptions& o);

// dppsim send text|log|ipc: records a DPP sends the daemon.
int send_records(const SendPlan& plan);

}  // namespace dppsim
