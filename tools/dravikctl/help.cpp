#include "tools/dravikctl/help.h"

#include <array>
#include <utility>

namespace dravikctl {

namespace {

constexpr const char* kOverview = R"(usage: dravikctl [--timeout MS] [--dir DIR] COMMAND ...

Sends a running dravik daemon what the switch's CLI, the supervisor and the
platform would send it, through the host platform in DRAVIK_PLATFORM_DIR
(default /tmp/dravik; --dir DIR names another).

Per-port debug (the operator's words, as the command table shows them):
  debug WORDS... [--vty PATH]      subscribe a terminal to a debug command
  no debug WORDS... [--vty PATH]   release it
  show debug [--vty PATH]          list the active debug commands
  commands                         list every per-port debug command
Log manager:
  log categories on|off [N|all] [--filters a,b,c,d] [--vty NAME]
  log dpps on|off all|N[,N...] [--vty NAME]
  log level 0-7|NAME
  log file NAME|off
  log show                         print the log manager's report
Relay:
  release-all                      release every subscription (opcode 922)
  rebind [--port0]                 rebind the daemon's XIPC socket (opcode 6111)
Platform notifications (to every SAP registered for them):
  notify dpp-up N | dpp-down N | feature-request FEATURE N... |
         feature-complete FEATURE N:STATUS... | feature-failed | timezone TZ

Options:
  --timeout MS   how long to wait for the daemon's answer (default 2000)
  --dir DIR      the platform directory (default: DRAVIK_PLATFORM_DIR)
  --help, -h     help; "dravikctl COMMAND --help" for one command

Exit status: 0 done; 1 the daemon did not answer in time (or could not be
reached); 2 the command line is wrong.
)";

constexpr const char* kDebug = R"(usage: dravikctl debug WORDS... [--vty PATH]

Subscribes a terminal to a per-port debug command: the daemon records it and
switches the command's debug bits on at the DPP core serving the port.

WORDS are the command's words as "dravikctl commands" lists them, without
"debug"; each word may be abbreviated as long as it stays unambiguous
("nivo ip tcp port 3"). Values:
  port N, dpp N            one-based, as every listing shows them; sent zero-based
  fenk N                   decimal
  init_fcid X, targ_fcid X (and init X, targ X) FC ids, hexadecimal, 0x optional
  ... init NAME tgt NAME   iSCSI initiator and target names, for
                           "nivo iscsi event" and "nivo iscsi transaction" only

The terminal is standard input's (ttyname), or --vty PATH. The daemon opens
it (it must exist) and writes the listing there.

Examples:
  dravikctl debug nivo ipstack tcp port 3
  dravikctl debug nivo iscsi event port 1 init iqn.host tgt iqn.disk
  dravikctl debug pemra lrtp fenk 7 init_fcid 0x10a targ_fcid 0x20b ctl dpp 2
)";

constexpr const char* kNo = R"(usage: dravikctl no debug WORDS... [--vty PATH]

Releases a terminal's subscription to a per-port debug command; the DPP core
switches off the bits that no other subscription of the module and port
holds. WORDS, values and terminal as for "dravikctl debug --help".
)";

constexpr const char* kShow = R"(usage: dravikctl show debug [--vty PATH]

Asks for the listing of the active per-port debug commands. The daemon writes
it to the terminal (standard input's, or --vty PATH); only when it cannot open
the terminal does the listing come back in the reply, and then it is printed
here.
)";

constexpr const char* kCommands = R"(usage: dravikctl commands

Lists every per-port debug command with its command id, in the words that
"dravikctl debug" takes. N stands for a number (ports and DPPs one-based),
X for a hexadecimal FC id.
)";

constexpr const char* kLog = R"(usage: dravikctl log categories|dpps|level|file|show ...

The DPP log manager's requests (SET_DEBUG and show):
  log categories on|off [N|all] [--filters a,b,c,d] [--vty NAME]
  log dpps on|off all|N[,N...] [--vty NAME]
  log level 0-7|NAME
  log file NAME|off
  log show
"dravikctl log COMMAND --help" for each.
)";

constexpr const char* kLogCategories =
    R"(usage: dravikctl log categories on|off [N|all] [--filters a,b,c,d] [--vty NAME]

Switches DPP log category N (1-29), or all of them (the default), on or off,
and sends the new flags to the DPPs whose logging is on.
  --filters a,b,c,d  with "on N": the category's four filter words (one to
                     four numbers, decimal or 0x..., missing words are 0)
  --vty NAME         the terminal the debug facility adds ("on", or "off
                     all": removes); default: standard input's terminal
)";

constexpr const char* kLogDpps = R"(usage: dravikctl log dpps on|off all|N[,N...] [--vty NAME]

Adds DPPs (one-based: 1,2) or all DPPs of the card to the set whose logging is
on, or removes them; DPPs added get the current flags, DPPs removed get none.
  --vty NAME  the terminal the debug facility adds (with "on")
)";

constexpr const char* kLogLevel = R"(usage: dravikctl log level 0-7|NAME

Sets the DPP debug level: 0 EMERG, 1 ALERT, 2 CRIT, 3 ERR, 4 WARN, 5 NOTICE,
6 INFO, 7 DEBUG (names in any case).
)";

constexpr const char* kLogFile = R"(usage: dravikctl log file NAME|off

Opens the per-DPP log files /cpp/plinder_dpp_logs/NAME.1 ... (linked under
/var/log/external/) for the DPPs' records, or closes them ("off"): records
then go to the debug facility.
)";

constexpr const char* kLogShow = R"(usage: dravikctl log show

Prints the log manager's report: the log files of the logging DPPs with their
line counts and sizes, the debug level, the DPP instances and the categories
that are on with their filters.
)";

constexpr const char* kReleaseAll = R"(usage: dravikctl release-all

Sends opcode 922: the daemon releases every terminal's subscriptions and
switches their bits off at the DPPs. It sends no reply; dravikctl reports the
message as sent.
)";

constexpr const char* kRebind = R"(usage: dravikctl rebind [--port0]

Sends opcode 6111: the daemon recreates its XIPC socket and binds it to port
1024, or with --port0 to port 0. No reply comes.
)";

constexpr const char* kNotify = R"(usage: dravikctl notify KIND ...

Sends a platform notification to every SAP registered for its opcode, as the
platform does. DPPs are typed one-based (DPP 1 is the first); the
notification carries the DPP index N-1.
  notify dpp-up N                            DPP_UP (7521)
  notify dpp-down N                          DPP_DOWN (7522)
  notify feature-request FEATURE N...        DPP_DNLD_NEW_FEATURE_RQST (7571)
  notify feature-complete FEATURE N:STATUS...  DPP_DNLD_NEW_FEATURE_COMPLETE (7572)
  notify feature-failed                      DPP_DNLD_NEW_FEATURE_FAILED (7573)
  notify timezone TZ                         the clock's time zone (3102)
Exit status 1 when no SAP is registered for the opcode.
)";

constexpr const char* kNotifyDppUp = R"(usage: dravikctl notify dpp-up N

DPP_UP (7521) for DPP N (one-based; the payload carries index N-1). A DPP
whose logging is on gets the current flags when it comes up.
)";

constexpr const char* kNotifyDppDown = R"(usage: dravikctl notify dpp-down N

DPP_DOWN (7522) for DPP N (one-based; the payload carries index N-1).
)";

constexpr const char* kNotifyFeatureRequest =
    R"(usage: dravikctl notify feature-request FEATURE N...

DPP_DNLD_NEW_FEATURE_RQST (7571): a feature (a number, 0x... allowed) is being
downloaded to DPPs N... (one-based; indexes N-1 are sent). Feature 0x91810000
takes the DPPs out of DPP logging.
)";

constexpr const char* kNotifyFeatureComplete =
    R"(usage: dravikctl notify feature-complete FEATURE N:STATUS...

DPP_DNLD_NEW_FEATURE_COMPLETE (7572): the download ended; one entry per DPP,
N one-based (index N-1 is sent), STATUS 2 meaning the DPP is up.
)";

constexpr const char* kNotifyFeatureFailed = R"(usage: dravikctl notify feature-failed

DPP_DNLD_NEW_FEATURE_FAILED (7573), with an empty payload.
)";

constexpr const char* kNotifyTimezone = R"(usage: dravikctl notify timezone TZ

The clock's time-zone notification (3102): the daemon sets TZ to the text,
which the time stamps of its log files use from then on.
)";

constexpr std::array<std::pair<std::string_view, const char*>, 22> kTopics = {{
    {"", kOverview},
    {"debug", kDebug},
    {"no", kNo},
    {"no debug", kNo},
    {"show", kShow},
    {"show debug", kShow},
    {"commands", kCommands},
    {"log", kLog},
    {"log categories", kLogCategories},
    {"log dpps", kLogDpps},
    {"log level", kLogLevel},
    {"log file", kLogFile},
    {"log show", kLogShow},
    {"release-all", kReleaseAll},
    {"rebind", kRebind},
    {"notify", kNotify},
    {"notify dpp-up", kNotifyDppUp},
    {"notify dpp-down", kNotifyDppDown},
    {"notify feature-request", kNotifyFeatureRequest},
    {"notify feature-complete", kNotifyFeatureComplete},
    {"notify feature-failed", kNotifyFeatureFailed},
    {"notify timezone", kNotifyTimezone},
}};

}  // namespace

const char* help_text(std::string_view topic) {
  for (const auto& [name, text] : kTopics)
    if (name == topic) return text;
  return nullptr;
}

}  // namespace dravikctl
