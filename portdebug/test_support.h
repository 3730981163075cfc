// Helpers shared by the relay's unit tests: a private platform directory, a
// DPP flag endpoint that records what the relay sends, terminals, and map
// resets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "wire/flag_update_msg.h"
#include "xipc/xipc_addr.h"

namespace relay_test {

// The process's platform directory (made once, exported as
// DRAVIK_PLATFORM_DIR before any platform call) and a fresh scratch directory
// inside it.
const std::string& platform_dir();
std::string scratch_dir();

// Creates an empty regular file at path (a terminal stand-in); returns path.
std::string make_terminal_file(const std::string& path);
std::string read_file(const std::string& path);

// Number of descriptors this process holds open.
int open_fd_count();

// Frees every map row, closing the handles of in-use rows.
void reset_map();

// Makes sure `sd` is an (unbound) XIPC socket the relay can send on.
void ensure_xipc_socket();

// One flag update as a DPP core receives it.
struct Received {
  XipcAddr from{};
  std::size_t length = 0;
  wire::FlagUpdateMsg msg;
  std::uint8_t raw[1024] = {};
};

// The per-port debug service of DPP core `core` (xipc/<core>.39.0).
class DppFlagEndpoint {
 public:
  explicit DppFlagEndpoint(std::uint16_t core);
  ~DppFlagEndpoint();
  DppFlagEndpoint(const DppFlagEndpoint&) = delete;
  DppFlagEndpoint& operator=(const DppFlagEndpoint&) = delete;

  // The next datagram, waiting at most two seconds; nullopt when none came.
  std::optional<Received> next();
  // True when no datagram is queued. The relay's sends complete before it
  // returns, so anything it sent is already queued.
  bool idle() const;

 private:
  int fd_ = -1;
};

}  // namespace relay_test
