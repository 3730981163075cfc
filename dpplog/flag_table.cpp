#include "dpplog/flag_table.h"

extern "C" {

// Rows 1 and 2 get overridden_by 3 and 4 at start-up; every other row stays 0.
DebugFlagEntry debug_flag_entries[kDppLogCategories + 1] = {
    {0, nullptr, nullptr, 0, 0},
    {1, "rx ipc message header", "ipc", 0, 0},
    {2, "tx ipc message header", "ipc", 0, 0},
    {3, "rx ipc message", "ipc", 1, 0},
    {4, "tx ipc message", "ipc", 2, 0},
    {5, "memory management", "mem", 0, 0},
    {6, "driver rx", "drv", 0, 0},
    {7, "driver tx", "drv", 0, 0},
    {8, "control path service", "cps", 0, 0},
    {9, "pkt demux", "dmx", 0, 0},
    {10, "scsi task management", "scsi", 0, 0},
    {11, "v2p traversal", "v2p", 0, 0},
    {12, "virtualization state machine", "vsm", 0, 0},
    {13, "exception", "excpt", 0, 0},
    {14, "miscellaneous logs", nullptr, 0, 0},
    {15, "data path copy", "copy", 0, 0},
    {16, "data path verify", "verify", 0, 0},
    {17, "statistics", "stats", 0, 0},
    {18, "interlocking", "ilock", 0, 0},
    {19, "span", "span", 0, 0},
    {20, "vornish back-up copy", "tolk", 0, 0},
    {21, "mirror recovery log", "mrl", 0, 0},
    {22, "pending write log", "pwl", 0, 0},
    {23, "fc services", "fc", 0, 0},
    {24, "lock", "lock", 0, 0},
    {25, "galt xipc", "galt_xipc", 0, 0},
    {26, "galt obj", "galt obj", 0, 0},
    {27, "galt plinder intf", "galt_plinder_intf", 0, 0},
    {28, "galt km", "galt_km", 0, 0},
    {29, "fsm", "fsm", 0, 0},
};

const char* const debug_level_names[8] = {"EMERG", "ALERT",  "CRIT", "ERR",
                                          "WARN",  "NOTICE", "INFO", "DEBUG"};
}

const char* debug_level_name(unsigned level) {
  constexpr unsigned kNames = sizeof debug_level_names / sizeof debug_level_names[0];
  return level < kNames ? debug_level_names[level] : "UNKNOWN";
}
