// The platform's files as a peer reads them: the system manager's log and
// heartbeat counter, the debug facility's output, and polling helpers for
// waiting on any of them (never a fixed sleep).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/client/platform_dir.h"

namespace client {

// corvan/heartbeats: "<count> <pm>\n", both decimal.
struct Heartbeats {
  std::uint64_t count = 0;
  std::int32_t pm = 0;
};

// Parses the heartbeat line; nothing when it does not hold two numbers.
std::optional<Heartbeats> parse_heartbeats(std::string_view text);
// Reads and parses corvan/heartbeats; nothing when it is missing or unreadable.
std::optional<Heartbeats> read_heartbeats(const PlatformDir& p);

// The card type as the daemon's host platform recorded it at start, in the
// file "card" of the platform directory: "<card id> <DPP count>\n".
struct CardRecord {
  std::uint32_t id = 0;
  std::uint32_t dpps = 0;
};
std::optional<CardRecord> parse_card(std::string_view text);
// Nothing when the file is missing or does not hold the two numbers.
std::optional<CardRecord> read_card(const PlatformDir& p);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);
// The file's lines without their newlines; empty when it cannot be read.
std::vector<std::string> read_lines(const std::string& path);
bool path_exists(const std::string& path);

std::vector<std::string> corvan_log_lines(const PlatformDir& p);
std::vector<std::string> dbgfac_log_lines(const PlatformDir& p,
                                          std::string_view facility = "dpp_debug");
std::vector<std::string> dbgfac_vtys(const PlatformDir& p, std::string_view facility = "dpp_debug");

// Polls pred every `every` until it holds or timeout passes; true when it held
// (pred is tried once more at the deadline).
bool wait_for(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
              std::chrono::milliseconds every = std::chrono::milliseconds(5));

}  // namespace client
