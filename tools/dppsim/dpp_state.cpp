#include "tools/dppsim/dpp_state.h"

#include <cstdio>

#include "dpplog/flag_table.h"
#include "wire/flag_update_msg.h"

namespace dppsim {

namespace {

std::string hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string prefix(unsigned dpp, std::uint16_t core) {
  return "[DPP " + std::to_string(dpp) + " core " + std::to_string(core) + "] ";
}

std::string from(const XipcAddr& a) {
  return " [from " + std::to_string(a.core) + "." + std::to_string(a.module) + "." +
         std::to_string(a.port) + "]";
}

std::string length_note(std::size_t got, std::size_t expected) {
  if (got == expected) return "";
  return " (length " + std::to_string(got) + ", expected " + std::to_string(expected) + ")";
}

// A name field of a FlagUpdateMsg as printable text: up to its NUL.
std::string name_of(const std::array<std::uint8_t, wire::flag_update::kNameSize>& field) {
  std::string s;
  for (std::uint8_t c : field) {
    if (c == 0) break;
    s += static_cast<char>(c);
  }
  return s;
}

const char* sess_type_name(std::uint32_t type) {
  switch (type) {
    case 1:
      return "i-t-nexus";
    case 2:
      return "lrtp";
    case 3:
      return "comp";
    case 4:
      return "accel";
    default:
      return "?";
  }
}

std::string filter_of(const wire::FlagUpdateMsg& m) {
  switch (m.sess_type) {
    case 0:
      return "no filter";
    case 1:
      return "init \"" + name_of(m.init) + "\" tgt \"" + name_of(m.tgt) + "\"";
    case 2:
      return "type " + std::to_string(m.type) + " (" + sess_type_name(m.type) + ") fenk " +
             std::to_string(m.fenk) + " init_fcid " + hex32(m.init_fcid) + " targ_fcid " +
             hex32(m.targ_fcid);
    default:
      return "sess_type " + std::to_string(m.sess_type) + " (unknown)";
  }
}

PortBits& bits_of(DppState& s, std::uint16_t core, std::uint32_t module) {
  for (PortBits& b : s.bits)
    if (b.core == core && b.module == module) return b;
  s.bits.push_back(PortBits{core, module, 0});
  return s.bits.back();
}

std::string filter_block(const wire::FilterBlock& b) {
  std::string s = "(";
  for (std::size_t w = 0; w < b.size(); ++w) {
    if (w) s += ",";
    char buf[16];
    std::snprintf(buf, sizeof buf, b[w] > 9 ? "0x%X" : "%u", b[w]);
    s += buf;
  }
  return s + ")";
}

}  // namespace

const char* module_name(std::uint32_t module) {
  switch (module) {
    case 55:
      return "nivo ipstack";
    case 66:
      return "nivo iscsi";
    case 77:
      return "nivo fcip";
    case 80:
      return "nivo crypto";
    case 81:
      return "nivo quellan";
    case 82:
      return "nivo cloud";
    case 83:
      return "pemra";
    default:
      return "?";
  }
}

const char* level_name(unsigned level) { return debug_level_name(level); }

std::string category_list(std::uint32_t flags) {
  std::string s;
  for (unsigned n = 1; n <= 32; ++n) {
    if (!(flags & (1u << (n - 1)))) continue;
    if (!s.empty()) s += ",";
    s += std::to_string(n);
  }
  return s.empty() ? "none" : s;
}

std::string apply_flag_update(DppState& s, std::uint16_t core, const XipcAddr& sender,
                              wire::Bytes payload) {
  ++s.flag_updates;
  wire::FlagUpdateMsg m = wire::decode_flag_update(payload);
  std::string line = prefix(s.dpp, core) + "FlagUpdateMsg ";
  if (m.op == wire::kFlagOpOn)
    line += "on";
  else if (m.op == wire::kFlagOpOff)
    line += "off";
  else
    line += "op " + std::to_string(m.op) + " (unknown, ignored)";
  line += " module " + std::to_string(m.module) + " (" + module_name(m.module) + ") mask " +
          hex32(m.mask) + " port " + std::to_string(core + 1) + ", " + filter_of(m);
  if (m.op == wire::kFlagOpOn || m.op == wire::kFlagOpOff) {
    PortBits& b = bits_of(s, core, m.module);
    if (m.op == wire::kFlagOpOn)
      b.mask |= m.mask;
    else
      b.mask &= ~m.mask;
    line += "; bits now " + hex32(b.mask);
  }
  return line + length_note(payload.size(), wire::flag_update::kSize) + from(sender);
}

std::string apply_dpp_flag(DppState& s, std::uint16_t core, const XipcAddr& sender,
                           wire::Bytes payload) {
  ++s.log_flag_msgs;
  wire::DppFlagMsg m = wire::decode_dpp_flag(payload);
  s.level = m.level;
  s.categories = m.flags;
  std::string line = prefix(s.dpp, core) + "DppFlagMsg level " + std::to_string(m.level) + " (" +
                     level_name(m.level) + ") flags " + hex32(m.flags) + " categories " +
                     category_list(m.flags);
  if (m.num_categories != wire::dpp_flag::kCategories)
    line += " num_categories " + std::to_string(m.num_categories);
  std::string filters;
  for (std::size_t k = 0; k < wire::dpp_flag::kCategories; ++k) {
    if (!(m.flags & (1u << k))) continue;
    s.filters[k] = m.filters[k];
    if (m.filters[k] == wire::FilterBlock{}) continue;
    filters.append(" ")
        .append(std::to_string(k + 1))
        .append(":")
        .append(filter_block(m.filters[k]));
  }
  if (!filters.empty()) line += " filters" + filters;
  return line + length_note(payload.size(), wire::dpp_flag::kSize) + from(sender);
}

std::string describe_state(const DppState& s) {
  std::string out = "DPP " + std::to_string(s.dpp) + ": " + std::to_string(s.flag_updates) +
                    " flag update(s), " + std::to_string(s.log_flag_msgs) +
                    " log-flag message(s)\n";
  bool any_bits = false;
  for (const PortBits& b : s.bits) {
    if (b.mask == 0) continue;
    any_bits = true;
    out += "  debug bits: core " + std::to_string(b.core) + " (port " + std::to_string(b.core + 1) +
           ") module " + std::to_string(b.module) + " (" + module_name(b.module) + ") " +
           hex32(b.mask) + "\n";
  }
  if (!any_bits) out += "  debug bits: none\n";
  if (s.log_flag_msgs == 0) {
    out += "  log flags: none received\n";
    return out;
  }
  out += "  log flags: level " + std::to_string(s.level) + " (" + level_name(s.level) +
         "), categories " + hex32(s.categories) + ": " + category_list(s.categories) + "\n";
  for (std::size_t k = 0; k < wire::dpp_flag::kCategories; ++k) {
    if (!(s.categories & (1u << k)) || s.filters[k] == wire::FilterBlock{}) continue;
    out += "    filters of category " + std::to_string(k + 1) + ": " + filter_block(s.filters[k]) +
           "\n";
  }
  return out;
}

}  // namespace dppsim
