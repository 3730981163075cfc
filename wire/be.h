// Big-endian field access for every wire layout the daemon and its tools read
// or write: VESK payloads, XIPC datagrams and the host platform's frames.
//
// Contract: every read names a buffer and an offset. A field that does not lie
// wholly inside the buffer reads as zero, and a write to such a field is
// dropped, so a short or hostile datagram can never make a decoder leave its
// buffer. Multi-byte fields are big-endian, the card's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace wire {

using Bytes = std::span<const std::uint8_t>;
using MutBytes = std::span<std::uint8_t>;

inline bool fits(std::size_t size, std::size_t off, std::size_t n) {
  return off <= size && n <= size - off;
}

inline std::uint8_t get_u8(Bytes b, std::size_t off) { return fits(b.size(), off, 1) ? b[off] : 0; }

inline std::uint16_t get_u16(Bytes b, std::size_t off) {
  if (!fits(b.size(), off, 2)) return 0;
  return static_cast<std::uint16_t>((b[off] << 8) | b[off + 1]);
}

inline std::uint32_t get_u32(Bytes b, std::size_t off) {
  if (!fits(b.size(), off, 4)) return 0;
  return (std::uint32_t{b[off]} << 24) | (std::uint32_t{b[off + 1]} << 16) |
         (std::uint32_t{b[off + 2]} << 8) | std::uint32_t{b[off + 3]};
}

inline void put_u8(MutBytes b, std::size_t off, std::uint8_t v) {
  if (fits(b.size(), off, 1)) b[off] = v;
}

inline void put_u16(MutBytes b, std::size_t off, std::uint16_t v) {
  if (!fits(b.size(), off, 2)) return;
  b[off] = static_cast<std::uint8_t>(v >> 8);
  b[off + 1] = static_cast<std::uint8_t>(v);
}

inline void put_u32(MutBytes b, std::size_t off, std::uint32_t v) {
  if (!fits(b.size(), off, 4)) return;
  b[off] = static_cast<std::uint8_t>(v >> 24);
  b[off + 1] = static_cast<std::uint8_t>(v >> 16);
  b[off + 2] = static_cast<std::uint8_t>(v >> 8);
  b[off + 3] = static_cast<std::uint8_t>(v);
}

// Copies the text field [off, off + field) of b into dst (dst_size bytes) and
// always NUL-terminates dst. The copy stops at the field's first NUL, at the
// end of the field, at the end of b, or when dst is full (dst_size - 1 bytes).
// Returns true when the field held a NUL inside b, false when the text ran to
// the end of the field or of the buffer without one.
inline bool get_text(Bytes b, std::size_t off, std::size_t field, char* dst, std::size_t dst_size) {
  if (dst_size == 0) return false;
  std::size_t avail = off < b.size() ? b.size() - off : 0;
  if (avail > field) avail = field;
  std::size_t n = 0;
  bool terminated = false;
  for (; n < avail; ++n) {
    if (b[off + n] == 0) {
      terminated = true;
      break;
    }
  }
  std::size_t copy = n < dst_size - 1 ? n : dst_size - 1;
  if (copy) std::memcpy(dst, b.data() + off, copy);
  dst[copy] = '\0';
  return terminated;
}

// Writes text into the field [off, off + field) of b, zero-filling the rest of
// the field. Text longer than the field is cut to the field (without a NUL when
// it fills the field entirely: the caller chooses the field's meaning).
inline void put_text(MutBytes b, std::size_t off, std::size_t field, std::string_view text) {
  if (!fits(b.size(), off, field)) return;
  std::size_t n = text.size() < field ? text.size() : field;
  if (n) std::memcpy(b.data() + off, text.data(), n);
  if (field > n) std::memset(b.data() + off + n, 0, field - n);
}

// Raw bytes [off, off + n) into dst; bytes outside b read as zero.
inline void get_raw(Bytes b, std::size_t off, void* dst, std::size_t n) {
  auto* d = static_cast<std::uint8_t*>(dst);
  for (std::size_t i = 0; i < n; ++i) d[i] = get_u8(b, off + i);
}

inline void put_raw(MutBytes b, std::size_t off, const void* src, std::size_t n) {
  if (!fits(b.size(), off, n) || n == 0) return;
  std::memcpy(b.data() + off, src, n);
}

}  // namespace wire
