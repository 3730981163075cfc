// Shared helpers of the host platform tests: a fresh platform directory per
// test, raw datagram peers, and waiting with a deadline.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/reset.h"

namespace host_test {

using Bytes = std::vector<std::uint8_t>;

// Each test gets its own DRAVIK_PLATFORM_DIR, removed afterwards; the
// platform forgets everything it read from the environment in between.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dravik-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    clear_env();
    setenv("DRAVIK_PLATFORM_DIR", dir_.c_str(), 1);
    host_env_reset();
  }
  void TearDown() override {
    host_env_reset();
    for (int fd : fds_) close(fd);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    clear_env();
  }
  static void clear_env() {
    for (const char* v : {"DRAVIK_PLATFORM_DIR", "DRAVIK_FAIL", "DRAVIK_FS_ROOT", "DRAVIK_CARD_ID"})
      unsetenv(v);
  }
  // Sets one variable and makes the platform read its environment afresh.
  static void use_env(const char* var, const std::string& value) {
    setenv(var, value.c_str(), 1);
    host_env_reset();
  }

  std::string path(const std::string& sub) const { return dir_ + "/" + sub; }

  // A datagram socket closed at the end of the test, standing for another
  // process; bound at `at` unless `at` is empty.
  int peer(const std::string& at = "") {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    if (!at.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(at).parent_path(), ec);
      sockaddr_un a = addr(at);
      EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << at;
    }
    return fd;
  }
  static sockaddr_un addr(const std::string& p) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, p.c_str(), sizeof a.sun_path - 1);
    return a;
  }
  static void send_to(int fd, const std::string& p, const Bytes& bytes) {
    sockaddr_un a = addr(p);
    ASSERT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
              static_cast<ssize_t>(bytes.size()))
        << p << ": " << std::strerror(errno);
  }
  // Waits up to `ms` for fd to become readable.
  static bool readable(int fd, int ms = 2000) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
  }
  // One datagram, whole (empty when none arrives in time).
  static Bytes receive(int fd) {
    if (!readable(fd)) return {};
    Bytes buf(70000);
    ssize_t n = recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
    buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buf;
  }
  static std::string read_file(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static bool exists(const std::string& p) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(p, ec));
  }

  std::string dir_;
  std::vector<int> fds_;
};

}  // namespace host_test
