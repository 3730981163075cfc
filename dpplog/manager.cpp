#include "dpplog/manager.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "dpplog/broadcast.h"
#include "dpplog/log_files.h"
#include "platform/card.h"
#include "platform/dbgfac.h"
#include "platform/fs.h"
#include "platform/output.h"
#include "platform/vesk.h"
#include "wire/opcodes.h"
#include "xipc/xipc_comm.h"

namespace {

struct ManagerOpcode {
  std::uint32_t opcode;
  const char* failure;
};

// Registered in this order; SET_DEBUG and the report reach the SAP without registration.
constexpr ManagerOpcode kManagerOpcodes[] = {
    {kOpcodeDppDown, "Unable to regiser DPP_DOWN"},
    {kOpcodeDppUp, "Unable to regiser DPP_UP"},
    {kOpcodeFeatureRqst, "Unable to regiser DPP_DNLD_NEW_FEATURE_RQST"},
    {kOpcodeFeatureComplete, "Unable to regiser DPP_DNLD_NEW_FEATURE_COMPLETE"},
    {kOpcodeFeatureFailed, "Unable to regiser DPP_DNLD_NEW_FEATURE_FAILED"},
    {kOpcodeTimezone, "Unable to regiser VESK_OPC_CLOCK_SET_TIMEZONE_NOTIF"},
};

// The per-DPP arrays hold the DPPs of the largest card.
static_assert(card_dpp_count(40) == kMaxDpps);

// Checks every row's id and links the overrides; an inconsistent table is a
// build fault, so the process stops rather than run with wrong categories.
void check_flag_table() {
  for (int n = 1; n <= kDppLogCategories; ++n) {
    DebugFlagEntry& row = debug_flag_entries[n];
    if (row.id != n) {
      printf("DPPDEBUG_MGR_ERR: You have inconsistent flag entry (%d vs %d)!\n", n, row.id);
      exit(1);
    }
    const int m = row.overrides;
    if (m != 0) {
      printf("DPPDEBUG_MGR_INFO: %d is overridden by %d\n", m, n);
      // A row can only name a category of the table; anything else would
      // write outside it.
      if (m >= 1 && m <= kDppLogCategories) debug_flag_entries[m].overridden_by = n;
    }
    printf("DPPDEBUG_MGR_INFO: flag %d is OK\n", n);
  }
}

// Creates the log directory only when it is missing; any other stat failure
// (a parent that cannot be searched, say) is left for the file opens to meet.
int ensure_log_dir() {
  struct stat st;
  if (fs_stat(kDppLogDir, &st) != 0 && errno == ENOENT) {
    if (fs_mkdir(kDppLogDir, 07777) != 0) {
      puts("DPPDEBUG_MGR_INFO: Unable to Create DPP Debug log dir");
      return -1;
    }
  }
  return 0;
}

void register_opcodes() {
  for (const ManagerOpcode& op : kManagerOpcodes) {
    const int word = vesk_options_get(debug_q, op.opcode);
    if (vesk_options_set(debug_q, op.opcode, static_cast<std::uint16_t>(word | VESK_OPT_REGISTER)) <
        0) {
      report_error(op.failure);
      exit(-1);
    }
  }
}

}  // namespace

extern "C" int init_koru_dbg_mgr(int handle, int xipc_fd) {
  std::uint16_t card = 0;
  card_id_get(&card);
  num_dpps = card_dpp_count(card);

  if (alloc_dpp_files_tables(num_dpps) != 0) return -1;
  plinder_dpps = (1u << num_dpps) - 1;

  check_flag_table();
  if (ensure_log_dir() != 0) return -1;

  fd_xipc = xipc_fd;
  if (xipc_fd < 0) return -1;

  debug_q = handle;
  if (handle == -1) {
    report_error("vesk bind error");
    exit(-1);
  }
  register_opcodes();
  puts("DPPDEBUG_MGR_INFO: vesk bind successful");

  if (dbgfac_init(kDppDebugFacility, 0, debug_q) != 0) return -1;

  // Every DPP starts from "no category enabled" at the current level, whether
  // or not the supervisor has put it in the map yet.
  send_flag_to_dpps(cur_flag, (1u << num_dpps) - 1);
  return 0;
}

void release_dpp_tables(void) {
  release_dpp_files_tables();
  // With no DPP left, every loop over the DPPs is empty: the intake finds no
  // log file and uses klaxo, and no flags go out.
  num_dpps = 0;
}

extern "C" int cleanup_koru(void) {
  release_dpp_tables();
  // The handle may be the daemon's own (the start took it before failing):
  // the caller knows, and decides what replies go out on from now on.
  const int rc = vesk_unbind(debug_q, 0);
  debug_q = 0;
  return rc;
}

extern "C" std::uint32_t get_current_flags(void) { return cur_flag; }
