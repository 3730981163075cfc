// What the harnesses share: the input as an exact-size heap copy, seed files
// written from the project's own encoders, and an in-process daemon started
// as main starts it, fed one VESK message or XIPC datagram at a time through
// the handlers its loop calls.
//
// Every path a message names as a terminal is replaced by one of a few
// terminals inside the harness's temporary directory (regular files, a FIFO
// without reader, a directory, a missing path, a path too long for the map),
// so nothing outside it is ever opened or written.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dpplog/intake.h"
#include "dpplog/manager.h"
#include "frame/frame.h"
#include "frame/vesk_request.h"
#include "platform/card.h"
#include "portdebug/vty_map.h"
#include "tools/client/unix_socket.h"
#include "tools/client/xipc_peer.h"
#include "wire/debug_request.h"
#include "wire/opcodes.h"
#include "wire/set_debug_request.h"
#include "wire/vesk_frame.h"
#include "xipc/xipc_comm.h"

namespace fuzz {

using Frame = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// libFuzzer's buffer is larger than the input; a copy of exactly its size lets
// AddressSanitizer see any read past the end.
inline std::unique_ptr<std::uint8_t[]> exact_copy(const std::uint8_t* data, std::size_t size) {
  auto copy = std::make_unique<std::uint8_t[]>(size);
  if (size != 0) std::copy(data, data + size, copy.get());
  return copy;
}

// With DRAVIK_FUZZ_SEEDS=DIR a harness writes its seeds there and exits.
inline void write_seeds(const std::vector<Frame>& seeds) {
  const char* dir = std::getenv("DRAVIK_FUZZ_SEEDS");
  if (dir == nullptr) return;
  fs::create_directories(dir);
  for (std::size_t i = 0; i < seeds.size(); ++i)
    std::ofstream(fs::path(dir) / ("seed-" + std::to_string(i)), std::ios::binary)
        .write(reinterpret_cast<const char*>(seeds[i].data()),
               static_cast<std::streamsize>(seeds[i].size()));
  std::exit(0);
}

inline Frame vesk(std::uint32_t opcode, wire::Bytes payload) {
  return wire::encode_vesk_request({opcode, 0, 0, Frame(payload.begin(), payload.end())});
}
inline Frame set_debug(std::uint8_t type, std::uint8_t on, std::uint8_t all, std::uint32_t arg,
                       std::string_view name = "") {
  const auto byte = static_cast<std::uint8_t>(arg);
  const wire::SetDebugRequest r{type, on, all, byte, arg, byte, {arg, 0, 0, arg}, name};
  return vesk(kOpcodeSetDebug, wire::encode_set_debug(r));
}

struct Daemon {
  std::string root, vty;
  // The terminals a request may name: two regular files, a FIFO without
  // reader, a directory, a missing path, the empty path, one too long for the map.
  std::array<std::string, 7> terminals;
  client::BoundSocket peer;  // the requester: replies to it are read and dropped
  std::string sap;
  unsigned long inputs = 0;

  Daemon() {
    char tmpl[] = "/tmp/dravik-fuzz.XXXXXX";
    root = mkdtemp(tmpl);
    vty = root + "/vty/";
    terminals = {vty + "a",
                 vty + "b",
                 vty + "fifo",
                 vty + "dir",
                 vty + "none",
                 "",
                 vty + std::string(kVtyPathSize, 'x').substr(vty.size())};
    setenv("DRAVIK_PLATFORM_DIR", (root + "/p").c_str(), 1);
    for (const char* v : {"DRAVIK_FS_ROOT", "DRAVIK_FAIL", "DRAVIK_CARD_ID"}) unsetenv(v);
    fs::create_directories(vty + "dir");
    mkfifo((vty + "fifo").c_str(), 0600);
    std::ofstream(vty + "a"), std::ofstream(vty + "b");
    signal(SIGPIPE, SIG_IGN);
    card_id_get(&card_id);
    if (initialize() == -1 || init_koru_dbg_mgr(q, fd_xipc) == -1) std::abort();
    sap = root + "/p/vesk/" + std::to_string(kDaemonSap);
    if (client::bind_dgram(root + "/p/peer", peer) != 0) std::abort();
    static Daemon* self = this;
    std::atexit([] { fs::remove_all(self->root); });
  }

  const std::string& terminal(std::uint8_t sel) const { return terminals[sel % terminals.size()]; }

  // Rewrites the terminal a request names: the per-port request's field, or
  // the name of a SET_DEBUG that adds or removes a facility terminal. The
  // field's first byte chooses; a field without its NUL is left as it is.
  void redirect(Frame& f) const {
    const std::uint32_t opcode = wire::get_u32(f, wire::vesk_frame::kOpcode);
    std::size_t off = wire::vesk_frame::kRequestHeader, size = 0;
    bool is_name = false;
    if (opcode == kOpcodeSetDebug) {
      const std::uint8_t type = wire::get_u8(f, off);
      if (type != wire::kSetDebugCategories && type != wire::kSetDebugDppMap) return;
      off += wire::set_debug::kName;
      size = kVtyPathSize + 1;
      is_name = true;  // a name runs to its NUL wherever that is: always replaced
    } else if (is_port_debug_opcode(opcode)) {
      off += wire::debug_request::kTerm;
      size = wire::debug_request::kTermSize;
    } else {
      return;
    }
    if (f.size() < off + size) f.resize(off + size);
    // An unterminated terminal field names no path: the request is refused.
    const auto end = f.begin() + static_cast<std::ptrdiff_t>(off + size);
    if (!is_name && std::find(f.begin() + static_cast<std::ptrdiff_t>(off), end, 0) == end) return;
    wire::put_text(f, off, size, terminal(f[off]));
  }

  // One request frame through the VESK handler, as the loop hands it on when
  // the handle is readable.
  void request(Frame f) {
    redirect(f);
    if (client::send_dgram(peer.fd.fd, sap, f) != 0) return;
    processVESKreq(q);
    std::uint8_t reply[wire::vesk_frame::kReplyPayload + wire::vesk_frame::kMaxPayload];
    while (recv(peer.fd.fd, reply, sizeof reply, MSG_DONTWAIT) >= 0) {
    }
  }

  // One datagram from DPP core `core` through the XIPC intake, sent to
  // wherever the daemon's socket is bound now (a rebind may have moved it).
  void datagram(std::uint16_t core, std::uint16_t opcode, wire::Bytes payload) {
    sockaddr_un self{};
    socklen_t len = sizeof self;
    if (sd < 0 || getsockname(sd, reinterpret_cast<sockaddr*>(&self), &len) != 0 ||
        self.sun_path[0] == '\0')
      return;
    XipcAddr src{AF_XIPC, core, kXipcModulePortDebug, opcode, {}, 0, 0, 0};
    src.length = static_cast<std::uint16_t>(payload.size());
    if (client::send_dgram(peer.fd.fd, self.sun_path, client::encode_xipc_frame(src, payload)))
      return;
    processKORUXIPCmsg(sd);
  }

  // After each input: subscriptions released (as opcode 922 does), the
  // terminals' and the facility's files kept small, and now and then every
  // file below the card's directories removed, however many names were used.
  void tidy() {
    stopDebugMsgFlow();
    for (const char* t : {"a", "b"}) (void)truncate((vty + t).c_str(), 0);
    unlink(terminal(4).c_str());
    unlink(terminal(6).c_str());
    (void)truncate((root + "/p/dbgfac/" + kDppDebugFacility + ".log").c_str(), 0);
    if (++inputs % 4096 != 0) return;
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(root + "/p/fs", ec))
      if (e.is_symlink(ec) || !e.is_directory(ec)) files.push_back(e.path());
    for (const auto& f : files) fs::remove(f, ec);
  }
};

}  // namespace fuzz
