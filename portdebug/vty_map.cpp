#include "portdebug/vty_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/output.h"
#include "portdebug/flag_update.h"

VTYmapElement cmdVTYmap[kVtyMapRows];

namespace {

bool in_use(const VTYmapElement& row) { return row.module != 0 || row.mask != 0; }

// Only in-use rows are matched: a free row's port and vty are left-overs.
bool has_key(const VTYmapElement& row, std::uint32_t module, std::uint32_t port, const char* term) {
  return in_use(row) && row.module == module && row.port == port && std::strcmp(row.vty, term) == 0;
}

// Opens a subscriber's terminal. The daemon has one thread, so the open must
// not wait (O_NONBLOCK: a FIFO without a reader fails at once with ENXIO
// instead of hanging); it must not adopt the terminal as the daemon's
// controlling terminal (O_NOCTTY); and the handle is not handed to any child
// (O_CLOEXEC). A terminal is never created.
int open_terminal(const char* term) {
  return ::open(term, O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

}  // namespace

void initCmdVTYmap() {
  for (VTYmapElement& row : cmdVTYmap) {
    row.module = 0;
    row.mask = 0;
  }
}

int storeInMap(std::uint32_t mask, std::uint32_t module, const char* term, std::uint32_t port) {
  // A path that does not fit vty with its terminator is refused rather than
  // cut: a cut path names another file, and the row's key would no longer be
  // the terminal that asked.
  if (strnlen(term, kVtyPathSize) >= kVtyPathSize) {
    std::printf("%s: terminal path too long, not stored\n", "storeInMap");
    return -1;
  }
  // Such a row would be free on arrival and its handle would belong to no one.
  if (mask == 0 && module == 0) return -1;

  int free_index = -1;
  for (std::size_t i = 0; i < kVtyMapRows; ++i) {
    VTYmapElement& row = cmdVTYmap[i];
    if (!in_use(row)) {
      free_index = static_cast<int>(i);  // ends as the highest free index
    } else if (has_key(row, module, port, term)) {
      row.mask |= mask;
      return 0;
    }
  }

  // The open comes before the fullness check, so a terminal that cannot be
  // opened is reported as such even when the map is full.
  int fd = open_terminal(term);
  if (fd < 0) {
    report_error("open vty failed");
    return -1;
  }
  if (free_index < 0) {
    std::puts("VTYmapElement array full");
    ::close(fd);
    return -1;
  }

  VTYmapElement& row = cmdVTYmap[free_index];
  row.module = module;
  row.mask = mask;
  std::memset(row.vty, 0, sizeof row.vty);
  std::memcpy(row.vty, term, std::strlen(term));  // < kVtyPathSize, checked above
  row.vtyfd = fd;
  row.port = port;
  return 0;
}

void freeEntry(std::uint32_t mask, std::uint32_t module, const char* term, std::uint32_t port) {
  for (VTYmapElement& row : cmdVTYmap) {
    if (!has_key(row, module, port, term)) continue;
    row.mask &= ~mask;
    if (row.mask == 0) {
      row.module = 0;
      ::close(row.vtyfd);
    }
    return;
  }
}

std::uint32_t notRegisteredMask(std::uint32_t mask, std::uint32_t module, std::uint32_t port) {
  // The last matching row alone decides; the masks are not combined.
  std::uint32_t held = 0;
  for (const VTYmapElement& row : cmdVTYmap)
    if (in_use(row) && row.module == module && row.port == port) held = row.mask;
  return mask & ~held;
}

void stopDebugMsgFlow() {
  for (VTYmapElement& row : cmdVTYmap) {
    if (!in_use(row)) continue;
    const std::uint32_t mask = row.mask;
    const std::uint32_t module = row.module;
    const std::uint32_t port = row.port;
    row.module = 0;
    row.mask = 0;
    ::close(row.vtyfd);
    // Judged over the map as it is now: this row no longer counts, the rows
    // after it that are still in use do, so their bits stay on until their
    // own turn.
    const std::uint32_t bits = notRegisteredMask(mask, module, port);
    if (bits != 0) updateDebugFlagOnSibyte(bits, module, port, wire::kFlagOpOff, nullptr);
  }
}

void printMap() {
  for (std::size_t i = 0; i < kVtyMapRows; ++i) {
    const VTYmapElement& row = cmdVTYmap[i];
    if (!in_use(row)) continue;
    std::printf("Index: %d   mask: %d   module: %d   Port: %d  VTY: %s  VTYfd: %d\n",
                static_cast<int>(i), static_cast<std::int32_t>(row.mask),
                static_cast<int>(row.module), static_cast<int>(row.port), row.vty, row.vtyfd);
  }
}
