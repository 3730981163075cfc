#include "portdebug/show.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "portdebug/cmd_table.h"
#include "portdebug/vty_map.h"

char buf[kReplyBufSize];

namespace {

// A bound of 100 bytes per piece: at most 99 characters and the NUL.
constexpr std::size_t kPieceSize = 100;

bool listed(const VTYmapElement& row) { return row.mask != 0 && row.module != 0; }

// Calls shown(row) for each command row that the decomposition takes for
// mask in module, in index order. cmdMaskTableSize is read at every step, but
// the walk never leaves the table. Rows without a text (124, 125) show
// nothing.
template <typename F>
void for_each_shown_command(std::uint32_t mask, std::uint32_t module, F shown) {
  if (cmdMaskTableSize <= 1 || mask == 0) return;
  std::uint32_t remaining = mask;
  for (std::uint32_t id = 1; id < cmdMaskTableSize && id < kCmdMaskTableRows && remaining != 0;
       ++id) {
    const CmdMaskEntry& cmd = cmdMaskTable[id];
    if (cmd.module != module || (remaining & cmd.mask) != cmd.mask) continue;
    remaining &= ~cmd.mask;
    if (cmd.format != nullptr) shown(cmd);
  }
}

// Every table format takes the listing arguments (port, FC id, FC id, DPP):
// its conversions are a prefix of %d %x %x %d, which the table checks at
// compile time, and printf ignores arguments a format does not use. The map
// keeps no fenk number or FC ids, so the fenk formats get the port in their
// first conversion and these fillers in the other three.
constexpr unsigned kUnknownFcId = 0;
constexpr int kUnknownDpp = 0;

int format_command(char* out, std::size_t size, const char* format, std::int32_t port) {
  return std::snprintf(out, size, format, port, kUnknownFcId, kUnknownFcId, kUnknownDpp);
}

void write_command(FILE* stream, const char* format, std::int32_t port) {
  std::fprintf(stream, format, port, kUnknownFcId, kUnknownFcId, kUnknownDpp);
}

// The number of characters a piece's snprintf into tmp (kPieceSize bytes)
// stored, given its result: cut to 99, as the bound cuts it; 0 on an error.
std::size_t stored_length(int ret) {
  if (ret < 0) return 0;
  return std::min(static_cast<std::size_t>(ret), kPieceSize - 1);
}

// Opens term for appending as fopen "a" would (created when missing), but
// never waiting on it, never as the controlling terminal, and not inherited.
int open_listing_terminal(const char* term) {
  return ::open(term, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
}

// How long, in all, a listing waits for a terminal that takes its text only
// in part. The loop serves nobody meanwhile, so the bound is short.
constexpr int kListingWaitMs = 300;

std::int64_t now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

// Writes text to the non-blocking terminal fd, waiting for it to take more
// while the bound allows. A terminal that takes no byte at all of the first
// write (its queue is full: nobody reads it) is not waited for. Returns the
// number of bytes it took.
std::size_t write_listing(int fd, const char* text, std::size_t size) {
  std::size_t done = 0;
  const std::int64_t deadline = now_ms() + kListingWaitMs;
  while (done < size) {
    const ssize_t n = ::write(fd, text + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || done == 0) break;
    const std::int64_t left = deadline - now_ms();
    if (left <= 0) break;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
  }
  return done;
}

}  // namespace

void printMask(std::uint32_t mask, std::uint32_t module, std::int32_t port, FILE* stream) {
  for_each_shown_command(mask, module,
                         [&](const CmdMaskEntry& cmd) { write_command(stream, cmd.format, port); });
}

void tamo_printMask() {
  std::size_t pos = 0;
  bool full = false;
  // Appends one piece if it fits whole with the closing NUL; the first piece
  // that does not fit ends the listing, so buf holds a prefix of the listing
  // made of whole pieces and nothing is written past its 5000 bytes.
  auto append = [&](const char* piece, std::size_t n) {
    if (full) return;
    if (pos + n >= kReplyBufSize) {
      full = true;
      return;
    }
    std::memcpy(buf + pos, piece, n);
    pos += n;
    buf[pos] = '\0';
  };
  for (const VTYmapElement& row : cmdVTYmap) {
    if (full) break;
    if (!listed(row)) continue;
    const std::int32_t port = dravik_core_num_to_print(row.port);
    for_each_shown_command(row.mask, row.module, [&](const CmdMaskEntry& cmd) {
      char piece[kPieceSize];
      append(piece, stored_length(std::snprintf(piece, sizeof piece, "      vty(%s):\n", row.vty)));
      append(piece, stored_length(format_command(piece, sizeof piece, cmd.format, port)));
    });
  }
}

int showDebugCmds(const char* term) {
  const int fd = open_listing_terminal(term);
  if (fd < 0) {
    std::memset(buf, 0, sizeof buf);
    tamo_printMask();
    return 0;
  }
  // The listing is made whole in memory first, so that a terminal that is
  // slow to read gets it in as few writes as it can take.
  char* text = nullptr;
  std::size_t size = 0;
  FILE* stream = ::open_memstream(&text, &size);
  if (stream == nullptr) {
    ::close(fd);
    return 0;
  }
  for (const VTYmapElement& row : cmdVTYmap) {
    if (!listed(row)) continue;
    if (std::strcmp(row.vty, term) == 0)
      std::fprintf(stream, "Current vty(%s):\n", term);
    else
      std::fprintf(stream, "Other vty(%s):\n", row.vty);
    printMask(row.mask, row.module, dravik_core_num_to_print(row.port), stream);
  }
  std::fclose(stream);
  const std::size_t taken = write_listing(fd, text, size);
  if (taken < size) {
    char line[160];
    const int n = std::snprintf(line, sizeof line, "\nListing cut: %zu of %zu bytes not written\n",
                                size - taken, size);
    // The terminal gets the line if it has room for it by now; the daemon's
    // own output always does.
    const ssize_t told = ::write(fd, line, static_cast<std::size_t>(n));
    (void)told;
    std::printf("showDebugCmds: listing to %s cut, %zu of %zu bytes not written\n", term,
                size - taken, size);
  }
  ::close(fd);
  std::free(text);
  return 0;
}
