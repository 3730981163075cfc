// The host platform as files: the environment variables that place it and the
// names of its sockets and files below the platform directory. The host
// platform builds its paths from these, and so do the tools and tests, which
// reach a running daemon only through them.
//
//   vesk/<sap>                      a service access point (datagram socket)
//   vesk/<sap>.lock                 held (flock) by the process owning <sap>; its pid
//   vesk/reg/<opcode>/<sap>         registration of <sap> for <opcode>
//   xipc/<core>.<module>.<port>     an XIPC endpoint (datagram socket)
//   corvan/log, corvan/heartbeats   the system manager's records
//   dbgfac/<facility>.log, .vtys    the debug facility's output and terminals
//   card                            "<card id> <DPP count>\n" of the owning daemon
// The card's directories lie below the fs root, by default <dir>/fs.
#pragma once

#include <string_view>

namespace layout {

inline constexpr const char* kPlatformDirEnv = "DRAVIK_PLATFORM_DIR";
inline constexpr const char* kFsRootEnv = "DRAVIK_FS_ROOT";
inline constexpr const char* kCardIdEnv = "DRAVIK_CARD_ID";
inline constexpr const char* kFailEnv = "DRAVIK_FAIL";

inline constexpr std::string_view kDefaultPlatformDir = "/tmp/dravik";
inline constexpr std::string_view kDefaultFsRoot = "fs";  // below the platform dir

inline constexpr std::string_view kVesk = "vesk";
inline constexpr std::string_view kVeskReg = "vesk/reg";
inline constexpr std::string_view kVeskLock = ".lock";  // after vesk/<sap>
inline constexpr std::string_view kXipc = "xipc";
inline constexpr std::string_view kCorvan = "corvan";
inline constexpr std::string_view kCorvanLog = "corvan/log";
inline constexpr std::string_view kHeartbeats = "corvan/heartbeats";
inline constexpr std::string_view kDbgfac = "dbgfac";
inline constexpr std::string_view kFacilityLog = ".log";
inline constexpr std::string_view kFacilityVtys = ".vtys";
inline constexpr std::string_view kCardRecord = "card";

// Made with the platform directory, in this order.
inline constexpr std::string_view kSubfolders[] = {kVesk, kVeskReg, kCorvan, kDbgfac, kXipc};

}  // namespace layout
