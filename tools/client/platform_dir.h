// Where a running daemon's platform keeps its sockets and files, seen from
// outside: the directory layout that tools and tests use to reach it.
//
// The names below the platform directory are the host platform's own
// (platform/host/layout.h); clients/ holds the reply sockets of this
// library's requests.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace client {

struct PlatformDir {
  std::string dir;      // DRAVIK_PLATFORM_DIR
  std::string fs_root;  // DRAVIK_FS_ROOT
};

// DRAVIK_PLATFORM_DIR (default /tmp/dravik) and DRAVIK_FS_ROOT (default
// $DIR/fs) as the daemon started from this environment would read them.
PlatformDir platform_from_env();
// The layout of a daemon started with DRAVIK_PLATFORM_DIR=dir and no
// DRAVIK_FS_ROOT.
PlatformDir platform_at(std::string dir);

std::string vesk_path(const PlatformDir& p, unsigned sap);
std::string vesk_reg_dir(const PlatformDir& p, std::uint32_t opcode);
std::string vesk_reg_path(const PlatformDir& p, std::uint32_t opcode, unsigned sap);
std::string xipc_path(const PlatformDir& p, std::uint16_t core, std::uint16_t module,
                      std::uint16_t port);
std::string corvan_log_path(const PlatformDir& p);
std::string heartbeats_path(const PlatformDir& p);
std::string dbgfac_log_path(const PlatformDir& p, std::string_view facility);
std::string dbgfac_vtys_path(const PlatformDir& p, std::string_view facility);
std::string clients_dir(const PlatformDir& p);
// The card-type record of the daemon's host platform.
std::string card_path(const PlatformDir& p);
// A card path ("/cpp/...") as the host places it: fs_root + path.
std::string fs_path(const PlatformDir& p, std::string_view card_path);

// Thrown when a socket path does not fit sun_path (107 characters plus NUL):
// the platform directory is too long to hold the platform's sockets.
struct PathTooLong : std::length_error {
  explicit PathTooLong(const std::string& path);
};

// The AF_UNIX address of path; throws PathTooLong when it does not fit.
struct UnixAddress {
  sockaddr_un addr{};
  socklen_t len = 0;
};
UnixAddress unix_address(const std::string& path);

// mkdir -p with mode 0750 for every directory it creates. 0, or an errno.
int make_dirs(const std::string& path);

}  // namespace client
