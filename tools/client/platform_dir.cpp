#include "tools/client/platform_dir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/host/layout.h"

namespace client {

namespace {

std::string env_or(const char* name, std::string fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::string(v) : fallback;
}

std::string below(const PlatformDir& p, std::string_view sub) {
  return p.dir + "/" + std::string(sub);
}

}  // namespace

PlatformDir platform_from_env() {
  PlatformDir p;
  p.dir = env_or(layout::kPlatformDirEnv, std::string(layout::kDefaultPlatformDir));
  p.fs_root = env_or(layout::kFsRootEnv, below(p, layout::kDefaultFsRoot));
  return p;
}

PlatformDir platform_at(std::string dir) {
  PlatformDir p;
  p.dir = std::move(dir);
  p.fs_root = below(p, layout::kDefaultFsRoot);
  return p;
}

std::string vesk_path(const PlatformDir& p, unsigned sap) {
  return below(p, layout::kVesk) + "/" + std::to_string(sap);
}

std::string vesk_reg_dir(const PlatformDir& p, std::uint32_t opcode) {
  return below(p, layout::kVeskReg) + "/" + std::to_string(opcode);
}

std::string vesk_reg_path(const PlatformDir& p, std::uint32_t opcode, unsigned sap) {
  return vesk_reg_dir(p, opcode) + "/" + std::to_string(sap);
}

std::string xipc_path(const PlatformDir& p, std::uint16_t core, std::uint16_t module,
                      std::uint16_t port) {
  return below(p, layout::kXipc) + "/" + std::to_string(core) + "." + std::to_string(module) + "." +
         std::to_string(port);
}

std::string corvan_log_path(const PlatformDir& p) { return below(p, layout::kCorvanLog); }

std::string heartbeats_path(const PlatformDir& p) { return below(p, layout::kHeartbeats); }

std::string dbgfac_log_path(const PlatformDir& p, std::string_view facility) {
  return below(p, layout::kDbgfac) + "/" + std::string(facility) +
         std::string(layout::kFacilityLog);
}

std::string dbgfac_vtys_path(const PlatformDir& p, std::string_view facility) {
  return below(p, layout::kDbgfac) + "/" + std::string(facility) +
         std::string(layout::kFacilityVtys);
}

std::string clients_dir(const PlatformDir& p) { return p.dir + "/clients"; }

std::string card_path(const PlatformDir& p) { return below(p, layout::kCardRecord); }

std::string fs_path(const PlatformDir& p, std::string_view card_path) {
  return p.fs_root + std::string(card_path);
}

PathTooLong::PathTooLong(const std::string& path)
    : std::length_error(
          "socket path of " + std::to_string(path.size()) + " bytes does not fit sun_path (" +
          std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes plus NUL): " + path) {}

UnixAddress unix_address(const std::string& path) {
  UnixAddress a;
  if (path.empty() || path.size() >= sizeof a.addr.sun_path) throw PathTooLong(path);
  a.addr.sun_family = AF_UNIX;
  std::memcpy(a.addr.sun_path, path.data(), path.size());
  a.len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return a;
}

int make_dirs(const std::string& path) {
  // Walk the path one component at a time; existing directories are fine.
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0750) != 0 && errno != EEXIST) return errno;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace client
