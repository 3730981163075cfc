#include "dpplog/control.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dpplog/broadcast.h"
#include "dpplog/log_files.h"
#include "dpplog/show_report.h"
#include "dpplog/state.h"
#include "platform/dbgfac.h"
#include "platform/output.h"
#include "wire/dpp_notify.h"
#include "wire/set_debug_request.h"
#include "wire/vesk_frame.h"

namespace {

// The whole payload buffer of the record: the platform fills it with zeros
// past the bytes received, so reading a fixed layout or a text never leaves it.
wire::Bytes payload_of(vesk_msg_t* msg) {
  return wire::Bytes(static_cast<const std::uint8_t*>(vesk_payload_get(msg)), sizeof msg->payload);
}

void reply(vesk_msg_t* msg, const void* payload, int len) {
  flush_output();
  vesk_send(debug_q, wire::kReplyHeaderBytes.data(), 0, payload, len, 0, msg, 0);
}

bool valid_dpp_index(std::uint32_t d) { return d < 32; }

void dpp_down(std::uint32_t d) {
  if (valid_dpp_index(d)) active_dpps &= ~(1u << d);
}

void feature_request(const wire::DnldFeatureRqst& r) {
  for (std::size_t i = 0; i < r.count; ++i) {
    const std::uint32_t d = r.dpps[i];
    if (!valid_dpp_index(d)) continue;
    if (r.feature == wire::kFeaturePlinderOff) plinder_dpps &= ~(1u << d);
    active_dpps &= ~(1u << d);
  }
}

void feature_complete(const wire::DnldFeatureComplete& c) {
  // The DPPs of the plinder-off download stay out until another download.
  if (c.feature == wire::kFeaturePlinderOff) return;
  for (std::size_t i = 0; i < c.count; ++i) {
    const std::uint32_t d = c.entries[i].dpp;
    if (!valid_dpp_index(d)) continue;
    plinder_dpps |= 1u << d;
    if (c.entries[i].status == wire::kFeatureStatusUp) process_dpp_up(static_cast<int>(d));
  }
}

// The C library reads a TZ value as the name of a zone file first (after a
// leading ':', relative to TZDIR unless absolute) and as a POSIX zone rule
// when there is no such file. Reading anything but a regular file there could
// block the loop (a FIFO waits for a writer, a terminal for input), so only a
// value whose file is regular, or missing, may reach it.
bool zone_file_is_safe(const char* tz) {
  const char* name = tz[0] == ':' ? tz + 1 : tz;
  if (name[0] == '\0') return true;
  char path[4096];
  if (name[0] == '/') {
    snprintf(path, sizeof path, "%s", name);
  } else {
    const char* dir = getenv("TZDIR");
    snprintf(path, sizeof path, "%s/%s",
             dir != nullptr && dir[0] != '\0' ? dir : "/usr/share/zoneinfo", name);
  }
  struct stat st;
  if (stat(path, &st) != 0) return true;  // no file: a zone rule, or refused by the library
  return S_ISREG(st.st_mode);
}

// The TZ text ends in a NUL inside the payload buffer; one that does not, or
// one naming a zone file that is not a regular file, is not placed in the
// environment and the zone stays as it was.
void set_timezone(vesk_msg_t* msg) {
  const char* text = static_cast<const char*>(vesk_payload_get(msg));
  if (memchr(text, '\0', sizeof msg->payload) == nullptr) {
    puts("DPPDEBUG_MGR_ERR: time zone text without an end, ignored");
    return;
  }
  if (!zone_file_is_safe(text)) {
    printf("DPPDEBUG_MGR_ERR: time zone %s names no regular zone file, ignored\n", text);
    return;
  }
  setenv("TZ", text, 1);
  // Later ctime calls of the log files convert in the new zone.
  tzset();
}

void notify_vty(const wire::SetDebugRequest& r) {
  // r.name is followed by its NUL inside the payload buffer (checked by the
  // caller), so its data() is a C string.
  const char* name = r.name.data();
  if (r.on != 0) {
    printf("DPPDEBUG_MGR_INFO: Notifying syslogd to add vty %s\n", name);
    dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kDppDebugFacility, name);
  } else if (r.all != 0) {
    printf("DPPDEBUG_MGR_INFO: Notifying syslogd to remove vty %s\n", name);
    dbgfac_vty_notify(-1, DBGFAC_VTY_REMOVE, kDppDebugFacility, name);
  }
}

void set_filters(int f, const wire::SetDebugRequest& r) {
  for (int w = 0; w < 4; ++w) cur_filters[f - 1][w] = r.filters[w];
}

void set_categories(const wire::SetDebugRequest& r) {
  if (r.all != 0) {
    if (r.on != 0) {
      cur_flag = kAllCategories;
      memset(cur_filters, 0, sizeof cur_filters);
    } else {
      cur_flag = 0;
    }
  } else {
    const int f = r.flag;
    // A category number outside the table names no row and no filter block:
    // the request is reported and not carried out (it still gets its reply).
    if (f < 1 || f > kDppLogCategories) {
      printf("DPPDEBUG_MGR_ERR: Invalid flag %d in SET_DEBUG, ignored\n", f);
      return;
    }
    const int o = debug_flag_entries[f].overrides;
    if (r.on != 0) {
      cur_flag |= 1u << (f - 1);
      set_filters(f, r);
      if (o != 0) {
        printf("DPPDEBUG_MGR_INFO: Overriding flag %d filters by %d\n", o, f);
        cur_flag |= 1u << (o - 1);
        set_filters(o, r);
      }
    } else {
      cur_flag &= ~(1u << (f - 1));
      if (o != 0) {
        printf("DPPDEBUG_MGR_INFO: Turning off flag %d (overridden by %d\n", o, f);
        cur_flag &= ~(1u << (o - 1));
      }
    }
  }
  notify_vty(r);
  printf("\n setting flags cur_flag:%d dppmap:%d", static_cast<int>(cur_flag),
         static_cast<int>(dppmap));
  send_flag_to_dpps(cur_flag, dppmap);
}

void set_dpp_map(const wire::SetDebugRequest& r) {
  const std::uint32_t full = (1u << num_dpps) - 1;
  std::uint32_t map;
  if (r.all != 0) {
    map = r.on != 0 ? full : 0;
  } else if (r.on != 0) {
    map = (dppmap | r.dpp_mask) & full;
  } else {
    map = (dppmap & ~r.dpp_mask) & full;
  }
  printf("DPPDEBUG_MGR_INFO: new dppmap: %X\n", map);
  if (map != dppmap && cur_flag != 0) {
    const std::uint32_t added = map & ~dppmap;
    const std::uint32_t removed = dppmap & ~map;
    printf("DPPDEBUG_MGR_DBG: Turning on DPP map %X\n", added);
    send_flag_to_dpps(cur_flag, added);
    printf("DPPDEBUG_MGR_DBG: Turning off DPP map %X\n", removed);
    send_flag_to_dpps(0, removed);
  }
  dppmap = map;
  printf("dppmap is set:%d", static_cast<int>(dppmap));
  notify_vty(r);
}

void set_level(const wire::SetDebugRequest& r) {
  // A level above 7 is stored and sent as it is; the show report names it
  // "UNKNOWN".
  debug_level = r.level;
  printf("DPPDEBUG_MGR_INFO: Debug level changed to %d\n", debug_level);
  send_flag_to_dpps(cur_flag, dppmap);
}

void set_debug(vesk_msg_t* msg) {
  const wire::SetDebugRequest r = wire::decode_set_debug(payload_of(msg));
  const bool reads_name = r.type == wire::kSetDebugCategories || r.type == wire::kSetDebugDppMap ||
                          r.type == wire::kSetDebugOutputFile;
  // Only possible with a message service that does not end its payload
  // buffer in a zero: the name is then no text, and the request is refused.
  if (reads_name && !r.name_terminated) {
    printf("DPPDEBUG_MGR_ERR: SET_DEBUG name without an end, type %d ignored\n", r.type);
  } else {
    switch (r.type) {
      case wire::kSetDebugCategories:
        set_categories(r);
        break;
      case wire::kSetDebugDppMap:
        set_dpp_map(r);
        break;
      case wire::kSetDebugLevel:
        set_level(r);
        break;
      case wire::kSetDebugOutputFile:
        set_output_file(r);
        break;
      default:
        printf("DPPDEBUG_MGR_ERR: Unknown SET_DEBUG type %d\n\n", r.type);
        break;
    }
  }
  reply(msg, nullptr, 0);
}

void show(vesk_msg_t* msg) {
  const std::size_t len = build_show_report();
  // The NUL travels with the report.
  reply(msg, show_buf, static_cast<int>(len + 1));
}

}  // namespace

extern "C" void process_dpp_up(int d) {
  if (d < 0 || d > 31) return;
  const std::uint32_t bit = 1u << d;
  if (active_dpps & bit) return;
  if ((plinder_dpps & bit) == 0) return;
  active_dpps |= bit;
  if (dppmap & bit) send_flag_to_dpps(cur_flag, bit);
}

extern "C" void process_vesk_message(vesk_msg_t* msg) {
  if (vesk_is_reject(msg) != 0) return;
  const std::uint32_t opcode = vesk_opc_get(msg);
  switch (opcode) {
    case kOpcodeDppUp: {
      // Outside 0-31 as a signed index too: process_dpp_up ignores it.
      const std::uint32_t d = wire::decode_dpp_index(payload_of(msg));
      process_dpp_up(d < 32 ? static_cast<int>(d) : -1);
      break;
    }
    case kOpcodeDppDown:
      dpp_down(wire::decode_dpp_index(payload_of(msg)));
      break;
    case kOpcodeFeatureRqst:
      feature_request(wire::decode_feature_rqst(payload_of(msg)));
      break;
    case kOpcodeFeatureComplete:
      feature_complete(wire::decode_feature_complete(payload_of(msg)));
      break;
    case kOpcodeFeatureFailed:
      break;
    case kOpcodeSetDebug:
      set_debug(msg);
      break;
    case kOpcodeShowDebug:
      show(msg);
      break;
    case kOpcodeTimezone:
      set_timezone(msg);
      break;
    default:
      printf("DPPDEBUG_MGR_ERR: unknown message %s\n", vesk_opc_name_get(opcode));
      break;
  }
}
