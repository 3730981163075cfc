// The VESK opcodes the daemon serves, as the CLI side, the supervisor and the
// platform send them. Every other opcode reaching the daemon's SAP is a
// per-port debug request.
#pragma once

#include <cstdint>

// The daemon's VESK service access point: every request below goes to it.
constexpr int kDaemonSap = 930;

constexpr std::uint32_t kOpcodeReleaseAll = 922;        // release every subscription
constexpr std::uint32_t kOpcodeRebindXipc = 6111;       // rebind the XIPC socket
constexpr std::uint32_t kOpcodeTimezone = 3102;         // time-zone notification
constexpr std::uint32_t kOpcodeSetDebug = 5000;         // SET_DEBUG
constexpr std::uint32_t kOpcodeShowDebug = 5001;        // the log manager's report
constexpr std::uint32_t kOpcodeDppUp = 7521;            // DPP_UP
constexpr std::uint32_t kOpcodeDppDown = 7522;          // DPP_DOWN
constexpr std::uint32_t kOpcodeFeatureRqst = 7571;      // DPP_DNLD_NEW_FEATURE_RQST
constexpr std::uint32_t kOpcodeFeatureComplete = 7572;  // DPP_DNLD_NEW_FEATURE_COMPLETE
constexpr std::uint32_t kOpcodeFeatureFailed = 7573;    // DPP_DNLD_NEW_FEATURE_FAILED

// The log manager's opcodes: requests, the report and the platform's
// notifications.
constexpr bool is_log_manager_opcode(std::uint32_t opcode) {
  switch (opcode) {
    case kOpcodeTimezone:
    case kOpcodeSetDebug:
    case kOpcodeShowDebug:
    case kOpcodeDppUp:
    case kOpcodeDppDown:
    case kOpcodeFeatureRqst:
    case kOpcodeFeatureComplete:
    case kOpcodeFeatureFailed:
      return true;
    default:
      return false;
  }
}

// An opcode the daemon takes as a per-port debug request: any it does not
// serve itself.
constexpr bool is_port_debug_opcode(std::uint32_t opcode) {
  return opcode != kOpcodeReleaseAll && opcode != kOpcodeRebindXipc &&
         !is_log_manager_opcode(opcode);
}
