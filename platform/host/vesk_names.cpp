// Printable names of VESK opcodes.
#include <array>
#include <cstdint>
#include <string_view>

#include "platform/host/path_buf.h"
#include "platform/vesk.h"

namespace {

struct OpcName {
  std::uint32_t opcode;
  const char* name;
};

constexpr std::array<OpcName, 8> kNames = {{
    {7521, "DPP_UP"},
    {7522, "DPP_DOWN"},
    {7571, "DPP_DNLD_NEW_FEATURE_RQST"},
    {7572, "DPP_DNLD_NEW_FEATURE_COMPLETE"},
    {7573, "DPP_DNLD_NEW_FEATURE_FAILED"},
    {5000, "SET_DEBUG"},
    {5001, "SHOW_DEBUG"},
    {3102, "VESK_OPC_CLOCK_SET_TIMEZONE_NOTIF"},
}};

}  // namespace

extern "C" const char* vesk_opc_name_get(std::uint32_t opcode) {
  for (const OpcName& n : kNames)
    if (n.opcode == opcode) return n.name;
  // Any other opcode: "OPC_<n>" in a buffer that the next call reuses.
  static char other[sizeof "OPC_4294967295"];
  host::PathBuf b;
  b.add("OPC_").add_u(opcode);
  std::string_view v = b.view();
  v.copy(other, sizeof other - 1);
  other[v.size() < sizeof other ? v.size() : sizeof other - 1] = '\0';
  return other;
}
