// dppsim's two commands. Each takes the words after its name and returns
// the exit status: 0 done, 1 the daemon (or the platform) could not be
// reached, 2 a wrong command line.
#pragma once

#include <string>
#include <vector>

namespace dppsim {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// dppsim run [--dpps 1-4] [--cores-per-dpp 1-4]: the card's DPPs, until
// SIGINT or SIGTERM; SIGUSR1 prints their state.
int run_dpps(const std::vector<std::string>& argv);

// dppsim send text|log|ipc ...: records a DPP sends the daemon.
int send_records(const std::vector<std::string>& argv);

}  // namespace dppsim
