// dppsim: the card's DPPs on the host platform. "run" plays the DPPs that
// receive the daemon's flag messages; "send" plays a DPP sending its debug
// text and log records.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/dppsim/commands.h"

namespace {

constexpr const char* kUsage = R"(usage: dppsim run [--dpps 1-4] [--cores-per-dpp 1-4]
       dppsim send text --dpp N [--core C] [--length L] [--count N] [--rate R] TEXT
       dppsim send log --dpp N --category C [--core C] [--length L] [--count N] [--rate R] TEXT
       dppsim send ipc rx|tx --dpp N [--core C] [--opc X] [--src X] [--dst X] [--size N]
                  [--ctrl X] [--ver X] [--status X] [--queue N] [--frm-ptr X] [--frm-len X]
                  [--count N] [--rate R]

The DPPs of a card, on the host platform in DRAVIK_PLATFORM_DIR (default
/tmp/dravik). DPP n owns the XIPC cores 4(n-1) to 4(n-1)+3.
)";

constexpr const char* kRunHelp = R"(usage: dppsim run [--dpps 1-4] [--cores-per-dpp 1-4]

Brings up DPPs 1 to --dpps (default 4): binds each DPP's per-port debug
service on its first --cores-per-dpp cores (default 4), xipc/<core>.39.0,
where the daemon sends the FlagUpdateMsg of a port (core = port - 1), and its
log service xipc/<4(n-1)>.66.0, where the daemon sends the DppFlagMsg.
Prints "dppsim: ready: ..." once bound, then every message received decoded
in one line, and keeps each DPP's state: debug bits per module and port, log
categories, filters and level.
  kill -USR1    prints the state
  kill -TERM, Ctrl-C   prints the state and stops (the endpoints are unbound)
)";

constexpr const char* kSendHelp = R"(usage: dppsim send text|log|ipc ... (options below)

Sends what a DPP sends to the daemon's endpoint xipc/0.37.1024, from module
39 of core 4(N-1)+C:
  text TEXT                per-port debug text (PortDebugTextMsg, opcode 88);
                           it may hold several lines ("a\nb" as typed by $'...')
  log --category C TEXT    a log record of category C (DppLogMsg, opcode 33);
                           C + 0x80 logs the text plainly
  ipc rx|tx                an IPC header record (category 1 RX, 2 TX), with the
                           header's fields --opc --src --dst --size --ctrl --ver
                           --status --queue --frm-ptr --frm-len (0 when left out)
Options:
  --dpp N       the sending DPP, 1-4 (required)
  --core C      the core within the DPP, 0-3 (default 0)
  --length L    the length field (default: the text's length + 1, its NUL)
  --count N     how many records (default 1); "{n}" in TEXT becomes 1..N
  --rate R      records per second (default: as fast as the daemon takes them)
A full queue at the daemon is retried after a short poll (the retries are
counted). A progress line comes every second, and a summary at the end.
Exit status: 0 sent; 1 the daemon's endpoint could not be reached; 2 usage.
)";

bool wants_help(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::string cmd = args.empty() ? "" : args.front();
  std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
  if (cmd == "run") {
    if (!wants_help(rest)) return dppsim::run_dpps(rest);
    std::fputs(kRunHelp, stdout);
    return dppsim::kExitOk;
  }
  if (cmd == "send") {
    if (!wants_help(rest)) return dppsim::send_records(rest);
    std::fputs(kSendHelp, stdout);
    return dppsim::kExitOk;
  }
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::fputs(kUsage, stdout);
    return dppsim::kExitOk;
  }
  std::fprintf(stderr, "dppsim: %s\n%s",
               cmd.empty() ? "no command given" : ("unknown command \"" + cmd + "\"").c_str(),
               kUsage);
  return dppsim::kExitUsage;
}
