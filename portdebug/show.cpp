#include "portdebug/show.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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

// Formats one piece into tmp (kPieceSize bytes) and returns the number of
// characters stored: the text is cut to 99 characters, as the bound cuts it.
std::size_t stored_length(int ret) {
  if (ret < 0) return 0;
  return std::min(static_cast<std::size_t>(ret), kPieceSize - 1);
}

// Opens term for appending as fopen "a" would (created when missing), but
// never waiting on it, never as the controlling terminal, and not inherited.
FILE* open_listing_stream(const char* term) {
  int fd = ::open(term, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* stream = ::fdopen(fd, "a");
  if (stream == nullptr) ::close(fd);
  return stream;
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
  FILE* stream = open_listing_stream(term);
  if (stream == nullptr) {
    std::memset(buf, 0, sizeof buf);
    tamo_printMask();
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
  return 0;
}
