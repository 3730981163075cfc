#include "portdebug/test_support.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "frame/frame.h"
#include "portdebug/vty_map.h"
#include "xipc/xipc.h"

namespace relay_test {

namespace {

bool dir_made = false;

// Removes the platform directory once every test has run.
class PlatformDirCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (dir_made) std::filesystem::remove_all(platform_dir());
  }
};

[[maybe_unused]] ::testing::Environment* const cleanup =
    ::testing::AddGlobalTestEnvironment(new PlatformDirCleanup);

}  // namespace

const std::string& platform_dir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/dravik-relay-XXXXXX";
    if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp failed");
    setenv("DRAVIK_PLATFORM_DIR", templ, 1);
    dir_made = true;
    return std::string(templ);
  }();
  return dir;
}

std::string scratch_dir() {
  std::string templ = platform_dir() + "/t-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return templ;
}

std::string make_terminal_file(const std::string& path) {
  std::ofstream(path).flush();
  return path;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int open_fd_count() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n - 1;  // the directory stream's own descriptor
}

void reset_map() {
  for (VTYmapElement& row : cmdVTYmap)
    if (row.module != 0 || row.mask != 0) close(row.vtyfd);
  initCmdVTYmap();
}

void ensure_xipc_socket() {
  platform_dir();
  if (sd < 0) sd = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
  if (sd < 0) throw std::runtime_error("xipc_socket failed");
}

DppFlagEndpoint::DppFlagEndpoint(std::uint16_t core) {
  platform_dir();
  fd_ = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
  XipcAddr a{};
  a.family = AF_XIPC;
  a.core = core;
  a.module = kXipcModulePortDebug;
  if (fd_ < 0 || xipc_bind(fd_, &a, kXipcAddrSize) != 0)
    throw std::runtime_error("cannot bind the DPP flag endpoint");
}

DppFlagEndpoint::~DppFlagEndpoint() {
  if (fd_ >= 0) xipc_close(fd_);
}

std::optional<Received> DppFlagEndpoint::next() {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 2000) != 1) return std::nullopt;
  Received r;
  socklen_t len = kXipcAddrSize;
  ssize_t n = xipc_recvfrom(fd_, r.raw, sizeof r.raw, 0, &r.from, &len);
  if (n < 0) return std::nullopt;
  r.length = static_cast<std::size_t>(n);
  r.msg = wire::decode_flag_update(wire::Bytes(r.raw, r.length));
  return r;
}

bool DppFlagEndpoint::idle() const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) == 0;
}

}  // namespace relay_test
