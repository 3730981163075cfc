#include "platform/host/fail.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/host/layout.h"

namespace host {
namespace {

struct OpName {
  std::string_view name;
  FailOp op;
};

constexpr OpName kOps[] = {
    {"vesk_bind", FailOp::vesk_bind},         {"vesk_recv", FailOp::vesk_recv},
    {"vesk_send", FailOp::vesk_send},         {"vesk_options_set", FailOp::vesk_options_set},
    {"dbgfac_init", FailOp::dbgfac_init},     {"xipc_socket", FailOp::xipc_socket},
    {"xipc_bind", FailOp::xipc_bind},         {"xipc_sendto", FailOp::xipc_sendto},
    {"xipc_recvfrom", FailOp::xipc_recvfrom}, {"fs_stat", FailOp::fs_stat},
    {"fs_mkdir", FailOp::fs_mkdir},           {"fs_fopen", FailOp::fs_fopen},
    {"fs_symlink", FailOp::fs_symlink},
};

struct FailEntry {
  FailOp op;
  bool by_opcode;
  std::uint32_t opcode;
  std::uint64_t nth;    // 0: every call fails
  std::uint64_t calls;  // matching calls so far
};

constexpr std::size_t kMaxEntries = 32;

struct FailState {
  bool loaded = false;
  std::size_t count = 0;
  FailEntry entries[kMaxEntries] = {};
};

FailState g_fail;

// Decimal, at least one digit, no sign, no overflow past 2^32.
bool parse_number(std::string_view s, std::uint64_t* out) {
  if (s.empty() || s.size() > 10) return false;
  std::uint64_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *out = n;
  return true;
}

bool parse_entry(std::string_view e, FailEntry* out) {
  *out = FailEntry{};
  if (auto at = e.find('@'); at != std::string_view::npos) {
    if (!parse_number(e.substr(at + 1), &out->nth) || out->nth == 0) return false;
    e = e.substr(0, at);
  }
  std::string_view name = e;
  if (auto colon = e.find(':'); colon != std::string_view::npos) {
    std::uint64_t opcode = 0;
    name = e.substr(0, colon);
    if (name != "vesk_options_set" || !parse_number(e.substr(colon + 1), &opcode) ||
        opcode > 0xFFFFFFFFu)
      return false;
    out->by_opcode = true;
    out->opcode = static_cast<std::uint32_t>(opcode);
  }
  for (const OpName& o : kOps) {
    if (o.name == name) {
      out->op = o.op;
      return true;
    }
  }
  return false;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void load() {
  g_fail = FailState{};
  g_fail.loaded = true;
  const char* v = std::getenv(layout::kFailEnv);
  if (v == nullptr) return;
  std::string_view list(v);
  while (!list.empty()) {
    auto comma = list.find(',');
    std::string_view item = trim(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    if (item.empty()) continue;
    FailEntry e;
    if (!parse_entry(item, &e)) {
      std::fprintf(stderr, "dravik platform: DRAVIK_FAIL entry \"%.*s\" not understood; ignored\n",
                   static_cast<int>(item.size()), item.data());
      continue;
    }
    if (g_fail.count == kMaxEntries) {
      std::fprintf(stderr,
                   "dravik platform: DRAVIK_FAIL holds more than %zu entries; \"%.*s\" ignored\n",
                   kMaxEntries, static_cast<int>(item.size()), item.data());
      continue;
    }
    g_fail.entries[g_fail.count++] = e;
  }
}

}  // namespace

bool fail_now(FailOp op, std::uint32_t opcode) {
  if (!g_fail.loaded) load();
  bool fails = false;
  // Every matching entry counts the call, so `op@1,op@3` fails calls 1 and 3.
  for (std::size_t i = 0; i < g_fail.count; ++i) {
    FailEntry& e = g_fail.entries[i];
    if (e.op != op || (e.by_opcode && e.opcode != opcode)) continue;
    ++e.calls;
    if (e.nth == 0 || e.nth == e.calls) fails = true;
  }
  if (fails) errno = op == FailOp::fs_stat ? EACCES : EIO;
  return fails;
}

void fail_reset() { g_fail = FailState{}; }

}  // namespace host
