// What a simulated DPP knows: the per-port debug bits its cores were told to
// switch (FlagUpdateMsg, per module and core) and its log flags (DppFlagMsg:
// categories, filters, level). Each message received is applied to the
// DPP's state and described in one readable line.
//
// Cores 4(n-1) to 4(n-1)+3 belong to DPP n. A FlagUpdateMsg arrives on the
// core that serves the port (core = zero-based port); a DppFlagMsg arrives on
// the DPP's first core, module 66.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/be.h"
#include "wire/dpp_flag_msg.h"
#include "xipc/xipc_addr.h"

namespace dppsim {

constexpr unsigned kCoresPerDpp = kXipcCoresPerDpp;
constexpr unsigned kMaxDpps = 4;

// The debug bits of one module on one core, as the flag updates left them.
struct PortBits {
  std::uint16_t core = 0;
  std::uint32_t module = 0;
  std::uint32_t mask = 0;
};

struct DppState {
  unsigned dpp = 0;            // one-based
  std::vector<PortBits> bits;  // in the order the (core, module) pairs first came
  unsigned flag_updates = 0;   // FlagUpdateMsg received
  unsigned log_flag_msgs = 0;  // DppFlagMsg received
  std::uint8_t level = 0;
  std::uint32_t categories = 0;
  std::array<wire::FilterBlock, wire::dpp_flag::kCategories> filters{};
};

// The family name of a module code ("nivo ipstack" for 55), or "?".
const char* module_name(std::uint32_t module);
// The name of a DPP log level ("INFO" for 6), from the daemon's own table.
const char* level_name(unsigned level);

// Applies a FlagUpdateMsg received on core from sender; returns its line.
// op 1 ORs the mask into the core's bits of the module, op 2 clears them;
// any other op changes nothing (the line says so).
std::string apply_flag_update(DppState& s, std::uint16_t core, const XipcAddr& sender,
                              wire::Bytes payload);
// Applies a DppFlagMsg received on core from sender; returns its line. The
// level, categories and the filter blocks of the set categories are taken.
std::string apply_dpp_flag(DppState& s, std::uint16_t core, const XipcAddr& sender,
                           wire::Bytes payload);

// The state of a DPP, several lines each ending in a newline.
std::string describe_state(const DppState& s);

// "1,3,29": the numbers of the categories set in flags (bit n-1 is n).
std::string category_list(std::uint32_t flags);

}  // namespace dppsim
