// Log records of a DPP and the splitting of DPP text into records.
//
// A log record for DPP n goes to its log file while n has one open,
// and to klaxo under "dpp_debug" otherwise; the choice is made anew for every
// record. A DPP number without an entry in the per-DPP arrays (above num_dpps,
// or any DPP once the manager is released) always goes to klaxo.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dpplog/log_files.h"
#include "dpplog/state.h"
#include "platform/dbgfac.h"
#include "wire/dpp_log_msg.h"

// Hands one record that is already made (len bytes, no NUL among them) to
// the DPP's file or to klaxo, as one "%.*s" record.
inline void log_dpp_line(int dpp, const char* text, std::size_t len) {
  if (dpp_has_log_file(dpp)) {
    write_dpp_record(dpp, text, len);
  } else {
    klaxo(1, kDppDebugFacility, 0, "%.*s", static_cast<int>(len), text);
  }
}

// The bound of a text: at most min(length, kTextBufSize) - 1 characters.
constexpr std::uint32_t kTextBufSize = wire::dpp_log::kRecvSize;

extern "C" {
// Logs the NUL-terminated text as one "%s" record per line. The text is cut to
// min(length, kTextBufSize) - 1 characters; newlines separate lines, and empty lines
// vanish. A text with no line at all (empty, or newlines only) is logged
// unchanged as one record. A length of 0 leaves room for no character and
// gives one empty record, as an empty text does.
void logDppTextLines(const char* text, int dpp, std::uint32_t length);
}
