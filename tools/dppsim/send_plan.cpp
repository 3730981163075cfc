#include "tools/dppsim/send_plan.h"

#include <charconv>
#include <cstdlib>

#include "tools/dppsim/dpp_state.h"

namespace dppsim {

namespace {

std::optional<std::uint64_t> number(std::string_view s, std::uint64_t max) {
  int base = 10;
  if (s.starts_with("0x") || s.starts_with("0X")) {
    s.remove_prefix(2);
    base = 16;
  }
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > max) return std::nullopt;
  return v;
}

// The options each kind takes; all of them carry a value.
bool takes(SendKind k, std::string_view opt) {
  for (auto o : {"--dpp", "--core", "--count", "--rate"})
    if (opt == o) return true;
  switch (k) {
    case SendKind::Text:
      return opt == "--length";
    case SendKind::Log:
      return opt == "--category" || opt == "--length";
    case SendKind::IpcRx:
    case SendKind::IpcTx:
      for (auto o : {"--opc", "--src", "--dst", "--size", "--ctrl", "--ver", "--status", "--queue",
                     "--frm-ptr", "--frm-len"})
        if (opt == o) return true;
      return false;
  }
  return false;
}

// Sets one option of the plan; a message when its value is unusable.
std::optional<std::string> set_option(SendPlan& p, const std::string& opt, const std::string& v) {
  auto bad = [&](const char* what) { return opt + " " + v + ": " + what; };
  auto n16 = [&] { return number(v, 0xFFFF); };
  auto n8 = [&] { return number(v, 0xFF); };
  if (opt == "--dpp") {
    auto n = number(v, kMaxDpps);
    if (!n || *n < 1) return bad("DPPs are numbered 1 to 4");
    p.dpp = static_cast<unsigned>(*n);
  } else if (opt == "--core") {
    auto n = number(v, kCoresPerDpp - 1);
    if (!n) return bad("a DPP has cores 0 to 3");
    p.core = static_cast<unsigned>(*n);
  } else if (opt == "--count") {
    auto n = number(v, 100000000);
    if (!n || *n < 1) return bad("a count from 1");
    p.count = *n;
  } else if (opt == "--rate") {
    char* end = nullptr;
    double r = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !(r >= 0) || r > 1e7)
      return bad("records per second, 0 or more");
    p.rate = r;
  } else if (opt == "--length") {
    auto n = number(v, 0xFFFFFFFF);
    if (!n) return bad("a 32-bit number");
    p.length = static_cast<std::uint32_t>(*n);
  } else if (opt == "--category") {
    auto n = number(v, 0xFFFFFFFF);
    if (!n) return bad("a category number (0x80 added: logged plainly)");
    p.category = static_cast<std::uint32_t>(*n);
  } else {
    // The IPC header fields.
    std::optional<std::uint64_t> n =
        (opt == "--ver" || opt == "--ctrl" || opt == "--status" || opt == "--queue") ? n8()
        : opt == "--frm-ptr" ? number(v, 0xFFFFFFFF)
                             : n16();
    if (!n) return bad("out of range for its field");
    wire::IpcMsgHeader& h = p.header;
    if (opt == "--opc") h.opc = static_cast<std::uint16_t>(*n);
    if (opt == "--src") h.src = static_cast<std::uint16_t>(*n);
    if (opt == "--dst") h.dst = static_cast<std::uint16_t>(*n);
    if (opt == "--size") h.size = static_cast<std::uint16_t>(*n);
    if (opt == "--frm-len") h.frm_len = static_cast<std::uint16_t>(*n);
    if (opt == "--ver") h.ver = static_cast<std::uint8_t>(*n);
    if (opt == "--ctrl") h.ctrl = static_cast<std::uint8_t>(*n);
    if (opt == "--status") h.status = static_cast<std::uint8_t>(*n);
    if (opt == "--queue") h.queue = static_cast<std::uint8_t>(*n);
    if (opt == "--frm-ptr") h.frm_ptr = static_cast<std::uint32_t>(*n);
  }
  return std::nullopt;
}

}  // namespace

std::variant<SendPlan, SendUsage> plan_send(const std::vector<std::string>& argv) {
  SendPlan p;
  std::size_t i = 0;
  if (argv.empty()) return SendUsage{"send what? text, log or ipc rx|tx"};
  const std::string& kind = argv[i++];
  if (kind == "text") {
    p.kind = SendKind::Text;
  } else if (kind == "log") {
    p.kind = SendKind::Log;
  } else if (kind == "ipc") {
    if (i >= argv.size() || (argv[i] != "rx" && argv[i] != "tx"))
      return SendUsage{"\"ipc\" is followed by rx or tx"};
    p.kind = argv[i++] == "rx" ? SendKind::IpcRx : SendKind::IpcTx;
    p.category = p.kind == SendKind::IpcRx ? 1 : 2;
  } else {
    return SendUsage{"unknown kind \"" + kind + "\": text, log or ipc rx|tx"};
  }

  bool have_text = false;
  bool have_dpp = false;
  bool have_category = false;
  for (; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (!a.starts_with("--")) {
      if (have_text || p.kind == SendKind::IpcRx || p.kind == SendKind::IpcTx)
        return SendUsage{"unexpected word \"" + a + "\" (quote a text with blanks)"};
      p.text = a;
      have_text = true;
      continue;
    }
    std::string opt = a;
    std::string value;
    if (auto eq = a.find('='); eq != std::string::npos) {
      opt = a.substr(0, eq);
      value = a.substr(eq + 1);
    } else if (i + 1 < argv.size()) {
      value = argv[++i];
    } else {
      return SendUsage{"option " + a + " needs a value"};
    }
    if (!takes(p.kind, opt)) return SendUsage{"option " + opt + " does not apply to " + kind};
    if (auto err = set_option(p, opt, value)) return SendUsage{*err};
    have_dpp = have_dpp || opt == "--dpp";
    have_category = have_category || opt == "--category";
  }
  if (!have_dpp) return SendUsage{"--dpp N names the DPP that sends"};
  if (p.kind == SendKind::Log && !have_category)
    return SendUsage{"--category C names the log category of the records"};
  if ((p.kind == SendKind::Text || p.kind == SendKind::Log) && !have_text)
    return SendUsage{"the text to send is missing"};
  return p;
}

std::uint16_t sender_core(const SendPlan& p) {
  return static_cast<std::uint16_t>(first_core_of(p.dpp) + p.core);
}

std::uint16_t sender_opcode(const SendPlan& p) {
  return p.kind == SendKind::Text ? kOpcodePortText : kOpcodeLogRecord;
}

std::string text_for(const SendPlan& p, std::uint64_t seq) {
  std::string s = p.text;
  const std::string n = std::to_string(seq);
  for (std::size_t at = s.find("{n}"); at != std::string::npos; at = s.find("{n}", at + n.size()))
    s.replace(at, 3, n);
  return s;
}

std::vector<std::uint8_t> payload_for(const SendPlan& p, std::uint64_t seq) {
  const std::string text = text_for(p, seq);
  const std::uint32_t length = p.length.value_or(static_cast<std::uint32_t>(text.size() + 1));
  if (p.kind == SendKind::Text) return wire::encode_port_debug_text(length, text);
  return wire::encode_dpp_log(length, p.category, p.header, text);
}

std::string kind_name(const SendPlan& p) {
  switch (p.kind) {
    case SendKind::Text:
      return "per-port debug text record(s)";
    case SendKind::Log:
      return "log record(s) of category " + std::to_string(p.category);
    case SendKind::IpcRx:
      return "RX IPC header record(s)";
    case SendKind::IpcTx:
      return "TX IPC header record(s)";
  }
  return "";
}

}  // namespace dppsim
