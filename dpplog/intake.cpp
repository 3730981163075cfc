#include "dpplog/intake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dpplog/flag_table.h"
#include "dpplog/log_lines.h"
#include "xipc/xipc.h"

namespace {

using wire::dpp_log::kRecvSize;

constexpr std::uint32_t kCategoryRxHeader = 1;
constexpr std::uint32_t kCategoryTxHeader = 2;
constexpr std::uint32_t kCategoryRxText = 3;
constexpr std::uint32_t kCategoryTxText = 4;
constexpr std::size_t kHeaderLineSize = 256;
// Every fixed field lies before the log text, which starts after the port text.
constexpr std::size_t kZeroedUpTo = wire::dpp_log::kLogText + 1;
static_assert(wire::dpp_log::kPortText < wire::dpp_log::kLogText);

// Port debug text: it stops at its NUL, at min(length, 2240) bytes and at the
// end of the receive buffer, whose spare zero byte ends it there.
void log_port_debug_text(const std::uint8_t* rbuf, int dpp) {
  const wire::Bytes b(rbuf, kRecvSize);
  logDppTextLines(reinterpret_cast<const char*>(rbuf + wire::dpp_log::kPortText), dpp,
                  wire::get_u32(b, wire::dpp_log::kLength));
}

// "[DPP<n>] <tag>: <text>", or "[DPP<n>] <text>" without a tag, made by
// copying rather than formatting.
// The DPP number (1 and up, from a 16-bit core) is written out by hand.
void log_tagged(int dpp, const char* tag, const char* text) {
  char line[32 + kRecvSize];
  char digits[12];
  std::size_t nd = 0;
  for (auto v = static_cast<unsigned>(dpp); nd == 0 || v != 0; v /= 10)
    digits[nd++] = static_cast<char>('0' + v % 10);
  memcpy(line, "[DPP", 4);
  std::size_t used = 4;
  while (nd > 0) line[used++] = digits[--nd];
  line[used++] = ']';
  line[used++] = ' ';
  if (tag != nullptr) {
    const std::size_t t = strlen(tag);
    memcpy(line + used, tag, t);
    used += t;
    line[used++] = ':';
    line[used++] = ' ';
  }
  const std::size_t n = strnlen(text, kRecvSize);
  memcpy(line + used, text, n);
  log_dpp_line(dpp, line, used + n);
}

void log_dpp_log_msg(const std::uint8_t* rbuf, int dpp) {
  const wire::Bytes b(rbuf, kRecvSize);
  const std::uint32_t category = wire::get_u32(b, wire::dpp_log::kCategory);
  // NUL-terminated: the receive buffer holds a zero byte past what came.
  const char* text = reinterpret_cast<const char*>(rbuf + wire::dpp_log::kLogText);

  if (category & wire::kCategoryPlain) {
    log_tagged(dpp, nullptr, text);
    return;
  }
  if (category > static_cast<std::uint32_t>(kDppLogCategories)) return;
  if (category == kCategoryRxHeader || category == kCategoryTxHeader) {
    char line[kHeaderLineSize];
    format_ipc_header_line(line, sizeof line, dpp, category, wire::decode_ipc_header(b));
    log_dpp_line(dpp, line, strlen(line));
    return;
  }
  if (category == kCategoryRxText || category == kCategoryTxText) {
    logDppTextLines(text, dpp, wire::get_u32(b, wire::dpp_log::kLength));
    return;
  }
  log_tagged(dpp, debug_flag_entries[category].short_name, text);
}

}  // namespace

char* format_ipc_header_line(char* line, std::size_t size, int dpp, std::uint32_t category,
                             const wire::IpcMsgHeader& h) {
  const bool tx = category == kCategoryTxHeader;
  int used = snprintf(line, size,
                      "[DPP%d] [%s] Opc: %d  Src: 0x%04X  Dst: 0x%04X  Size: %d  Ctrl: 0x%02X  "
                      "Ver: 0x%02X  Status: 0x%02X",
                      dpp, tx ? "TX" : "RX", h.opc & 0xFF7F, h.src, h.dst, h.size, h.ctrl, h.ver,
                      h.status);
  auto rest = [&]() { return used < static_cast<int>(size) ? size - used : 0; };
  if (h.ctrl & wire::kIpcCtrlFrame) {
    used += snprintf(line + used, rest(), "  FrmPtr: 0x%08X  FrmLen: 0x%x", h.frm_ptr, h.frm_len);
  }
  if (tx) snprintf(line + used, rest(), "  Q: %d", h.queue & 7);
  return line;
}

extern "C" int processKORUXIPCmsg(int sd) {
  // One spare zero byte past the 2240 received ones ends every text read in
  // place, whatever the datagram holds.
  std::uint8_t rbuf[kRecvSize + 1];
  XipcAddr src{};
  socklen_t srclen = kXipcAddrSize;
  const ssize_t count = xipc_recvfrom(sd, rbuf, kRecvSize, 0, &src, &srclen);
  if (count < 0 || static_cast<std::size_t>(count) > kRecvSize) {
    printf("Error from recvfrom, byte count %d\n", static_cast<int>(count));
    return -1;
  }
  // A short datagram reads as zero-padded: the fixed fields and the start of
  // the text past what came are cleared, and a zero ends the text (at the
  // spare byte when all 2240 came).
  const std::size_t got = static_cast<std::size_t>(count);
  memset(rbuf + got, 0, std::max(kZeroedUpTo, got + 1) - got);

  if (src.module != kXipcModulePortDebug) {
    printf("Received a unknown message from module: %d opcode: %d \n", src.module, src.opcode);
    return -1;
  }
  const int dpp = dpp_of_core(src.core);
  if (src.opcode == kXipcOpcodePortDebug) {
    log_port_debug_text(rbuf, dpp);
  } else {
    log_dpp_log_msg(rbuf, dpp);
  }
  return 0;
}
