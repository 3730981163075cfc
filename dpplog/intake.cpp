#include "dpplog/intake.h"

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

void log_port_debug_text(const std::uint8_t* rbuf, int dpp) {
  const wire::Bytes b(rbuf, kRecvSize);
  const std::uint32_t length = wire::get_u32(b, wire::dpp_log::kLength);
  // The working copy is zero past the text; the text itself stops at its NUL,
  // at min(length, 2240) bytes and at the end of the receive buffer.
  char work[kRecvSize] = {};
  const std::size_t avail = kRecvSize - wire::dpp_log::kPortText;
  std::size_t limit = length < kRecvSize ? length : kRecvSize;
  if (limit > avail) limit = avail;
  const char* text = reinterpret_cast<const char*>(rbuf + wire::dpp_log::kPortText);
  memcpy(work, text, strnlen(text, limit));
  logDppTextLines(work, dpp, length);
}

void log_dpp_log_msg(const std::uint8_t* rbuf, int dpp) {
  const wire::Bytes b(rbuf, kRecvSize);
  const std::uint32_t category = wire::get_u32(b, wire::dpp_log::kCategory);
  // NUL-terminated: the receive buffer keeps a zero byte past its 2240 bytes.
  const char* text = reinterpret_cast<const char*>(rbuf + wire::dpp_log::kLogText);

  if (category & wire::kCategoryPlain) {
    log_dpp_record(dpp, "[DPP%d] %s", dpp, text);
    return;
  }
  if (category > static_cast<std::uint32_t>(kDppLogCategories)) return;
  if (category == kCategoryRxHeader || category == kCategoryTxHeader) {
    char line[kHeaderLineSize];
    format_ipc_header_line(line, sizeof line, dpp, category, wire::decode_ipc_header(b));
    // The line holds no conversion character; handing it through "%s" writes
    // the same bytes and never lets composed text act as a format.
    log_dpp_record(dpp, "%s", line);
    return;
  }
  if (category == kCategoryRxText || category == kCategoryTxText) {
    logDppTextLines(text, dpp, wire::get_u32(b, wire::dpp_log::kLength));
    return;
  }
  const char* tag = debug_flag_entries[category].short_name;
  if (tag != nullptr) {
    log_dpp_record(dpp, "[DPP%d] %s: %s", dpp, tag, text);
  } else {
    log_dpp_record(dpp, "[DPP%d] %s", dpp, text);
  }
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
  memset(rbuf + count, 0, sizeof rbuf - static_cast<std::size_t>(count));

  if (src.module != kXipcModulePortDebug) {
    printf("Received a unknown message from module: %d opcode: %d \n", src.module, src.opcode);
    return -1;
  }
  const int dpp = src.core / 4 + 1;
  if (src.opcode == kXipcOpcodePortDebug) {
    log_port_debug_text(rbuf, dpp);
  } else {
    log_dpp_log_msg(rbuf, dpp);
  }
  return 0;
}
