#include "tools/dravikctl/command_words.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "portdebug/cmd_table.h"
#include "tools/cli/nearest.h"
#include "tools/cli/numbers.h"
#include "wire/debug_request.h"

namespace dravikctl {

namespace {

// The two rows that hold the very same text; the first one is the command.
constexpr std::int32_t kWriteAccId = 111;
constexpr std::int32_t kWriteAccTwinId = 112;

constexpr std::size_t kMaxNearest = 8;
constexpr std::size_t kNameMax = 255;  // a DebugRequest name field holds 256 bytes

std::vector<std::string> split_words(std::string_view s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == ' ') ++i;
    std::size_t start = i;
    while (i < s.size() && s[i] != ' ') ++i;
    if (i > start) out.emplace_back(s.substr(start, i - start));
  }
  return out;
}

bool is_slot(std::string_view w) { return w == "%d" || w == "%x"; }

// Which value a slot holds follows from the word before it.
enum class Slot { Port, Fenk, InitFcid, TargFcid };

Slot slot_of(const std::vector<std::string>& words, std::size_t i) {
  std::string_view before = i > 0 ? std::string_view(words[i - 1]) : std::string_view();
  if (before == "fenk") return Slot::Fenk;
  if (before.starts_with("init")) return Slot::InitFcid;
  if (before.starts_with("targ")) return Slot::TargFcid;
  return Slot::Port;  // "port %d" and "dpp %d"
}

// The base of a slot's number: %d decimal, %x hexadecimal ("0x" or not).
int base_of(std::string_view slot) { return slot == "%x" ? 16 : 10; }

// Whether w is written as a slot's number. One too large for 32 bits still
// counts as a value, so that the operator hears "does not fit" rather than
// "unknown word".
bool parses_as(std::string_view slot, std::string_view w) {
  if (base_of(slot) == 16 && (w.starts_with("0x") || w.starts_with("0X"))) w.remove_prefix(2);
  const char* digits = base_of(slot) == 16 ? "0123456789abcdefABCDEF" : "0123456789";
  return !w.empty() && w.find_first_not_of(digits) == std::string_view::npos;
}

// How well the operator's word w fits position i of a pattern; the rank
// decides which candidates survive at that position.
enum class Fit { None = 0, Prefix = 1, Exact = 2 };

// Words after the pattern of a command that takes names: init NAME tgt NAME.
constexpr std::string_view kNameWords[] = {"init", "", "tgt", ""};

std::string_view word_at(const CommandPattern& p, std::size_t i) {
  if (i < p.words.size()) return p.words[i];
  std::size_t k = i - p.words.size();
  if (p.takes_names && k < 4) return kNameWords[k].empty() ? "NAME" : kNameWords[k];
  return {};
}

Fit fit(const CommandPattern& p, std::size_t i, std::string_view w) {
  if (i >= p.words.size()) {
    std::size_t k = i - p.words.size();
    if (!p.takes_names || k >= 4) return Fit::None;
    if (kNameWords[k].empty()) return Fit::Exact;  // any name
    return w == kNameWords[k] ? Fit::Exact : Fit::None;
  }
  const std::string& pw = p.words[i];
  if (is_slot(pw)) return parses_as(pw, w) ? Fit::Exact : Fit::None;
  if (pw == w) return Fit::Exact;
  if (!w.empty() && pw.starts_with(w)) return Fit::Prefix;
  return Fit::None;
}

bool complete(const CommandPattern& p, std::size_t n) {
  return n == p.words.size() || (p.takes_names && n == p.words.size() + 4);
}

std::string shown_word(const CommandPattern& p, std::size_t i) {
  std::string_view w = word_at(p, i);
  if (w == "%d") return "N";
  if (w == "%x") return "X";
  return std::string(w);
}

std::string joined(const std::vector<std::string>& words, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n && i < words.size(); ++i) {
    if (i) s += ' ';
    s += words[i];
  }
  return s;
}

// The distinct words that could stand at position i, in table order.
std::vector<std::string> expected_words(const std::vector<const CommandPattern*>& cands,
                                        std::size_t i) {
  std::vector<std::string> out;
  for (const CommandPattern* p : cands) {
    std::string w = shown_word(*p, i);
    if (w.empty()) continue;
    if (std::find(out.begin(), out.end(), w) == out.end()) out.push_back(w);
  }
  return out;
}

// The candidates closest to the operator's word at position i: nearest by
// word distance first, then in id order.
std::vector<std::int32_t> nearest_to(const std::vector<const CommandPattern*>& cands, std::size_t i,
                                     std::string_view w) {
  std::vector<std::pair<std::size_t, std::int32_t>> ranked;
  for (const CommandPattern* p : cands) {
    std::string_view pw = word_at(*p, i);
    std::size_t d = pw.empty() ? w.size() + 100 : tools::word_distance(w, pw);
    ranked.emplace_back(d, p->id);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::int32_t> ids;
  for (const auto& r : ranked) {
    if (ids.size() == kMaxNearest) break;
    ids.push_back(r.second);
  }
  return ids;
}

std::vector<std::int32_t> ids_of(const std::vector<const CommandPattern*>& cands) {
  std::vector<std::int32_t> ids;
  for (const CommandPattern* p : cands) {
    if (ids.size() == kMaxNearest) break;
    ids.push_back(p->id);
  }
  return ids;
}

MatchError bad_value(std::string message, std::int32_t id) {
  return MatchError{MatchFailure::BadValue, std::move(message), {}, {id}};
}

// Reads the values of the one command left; its words fit the pattern.
std::variant<MatchedCommand, MatchError> take_values(const CommandPattern& p,
                                                     const std::vector<std::string>& words) {
  MatchedCommand m;
  m.id = p.id;
  for (std::size_t i = 0; i < p.words.size(); ++i) {
    const std::string& pw = p.words[i];
    if (!is_slot(pw)) continue;
    const std::string& w = words[i];
    auto v = tools::parse_number(w, 0xFFFFFFFF, base_of(pw));
    const std::string& what = p.words[i - 1];
    if (!v) return bad_value(what + " " + w + ": the number does not fit in 32 bits", p.id);
    switch (slot_of(p.words, i)) {
      case Slot::Port:
        if (*v < 1 || *v > 256)
          return bad_value(what + " " + w + ": " + what + "s are numbered from 1 to 256", p.id);
        m.port = static_cast<std::uint8_t>(*v - 1);
        break;
      case Slot::Fenk:
        m.fenk = *v;
        break;
      case Slot::InitFcid:
        m.init_fcid = *v;
        break;
      case Slot::TargFcid:
        m.targ_fcid = *v;
        break;
    }
  }
  if (words.size() > p.words.size()) {
    m.init = words[p.words.size() + 1];
    m.tgt = words[p.words.size() + 3];
    if (m.init.size() > kNameMax || m.tgt.size() > kNameMax)
      return bad_value("init and tgt names hold at most 255 characters", p.id);
  }
  return m;
}

std::vector<CommandPattern> build_patterns() {
  std::vector<CommandPattern> out;
  for (std::int32_t id = 1; id < static_cast<std::int32_t>(kCmdMaskTableRows); ++id) {
    const CmdMaskEntry& e = cmdMaskTable[id];
    if (!names_debug_command(id) || e.format == nullptr) continue;
    if (id == kWriteAccTwinId) continue;  // same text as 111: the text names 111
    CommandPattern p;
    p.id = id;
    p.words = split_words(command_words_of(e.format));
    p.takes_names = wire::carries_names(id);
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace

const std::vector<CommandPattern>& command_patterns() {
  static const std::vector<CommandPattern> patterns = build_patterns();
  return patterns;
}

std::string command_words_of(std::string_view format) {
  if (format.starts_with("\t")) format.remove_prefix(1);
  if (format.starts_with(" ")) format.remove_prefix(1);
  if (format.starts_with("debug ")) format.remove_prefix(6);
  while (format.ends_with("\n")) format.remove_suffix(1);
  return std::string(format);
}

std::string display_text(std::int32_t id) {
  if (id == kWriteAccTwinId) id = kWriteAccId;
  for (const CommandPattern& p : command_patterns()) {
    if (p.id != id) continue;
    std::string s = "debug";
    for (std::size_t i = 0; i < p.words.size(); ++i) s += " " + shown_word(p, i);
    if (p.takes_names) s += " [init NAME tgt NAME]";
    return s;
  }
  return {};
}

std::string canonical_text(const MatchedCommand& m) {
  if (!names_debug_command(m.id) || cmdMaskTable[m.id].format == nullptr) return {};
  const char* format = cmdMaskTable[m.id].format;
  const int port = dravik_core_num_to_print(m.port);
  char buf[256];
  // The table's formats are checked (cmd_table.cpp) to hold either the one
  // port conversion or "%d %x %x %d": fenk, FC ids, then the DPP.
  if (count_conversions(format) == 4)
    std::snprintf(buf, sizeof buf, format, static_cast<int>(m.fenk), m.init_fcid, m.targ_fcid,
                  port);
  else
    std::snprintf(buf, sizeof buf, format, port);
  std::string s = command_words_of(buf);
  s = "debug " + s;
  if (!m.init.empty() || !m.tgt.empty()) s += " init " + m.init + " tgt " + m.tgt;
  return s;
}

std::variant<MatchedCommand, MatchError> match_command(const std::vector<std::string>& words) {
  std::vector<const CommandPattern*> cands;
  for (const CommandPattern& p : command_patterns()) cands.push_back(&p);
  if (words.empty()) {
    return MatchError{
        MatchFailure::Empty, "no command words after \"debug\"", expected_words(cands, 0), {}};
  }

  for (std::size_t i = 0; i < words.size(); ++i) {
    Fit best = Fit::None;
    for (const CommandPattern* p : cands) best = std::max(best, fit(*p, i, words[i]));
    if (best == Fit::None) {
      std::string where =
          i == 0 ? std::string("after \"debug\"") : "after \"debug " + joined(words, i) + "\"";
      return MatchError{MatchFailure::Unknown, "unknown word \"" + words[i] + "\" " + where,
                        expected_words(cands, i), nearest_to(cands, i, words[i])};
    }
    std::vector<const CommandPattern*> kept;
    for (const CommandPattern* p : cands)
      if (fit(*p, i, words[i]) == best) kept.push_back(p);
    cands = std::move(kept);
  }

  std::vector<const CommandPattern*> done;
  for (const CommandPattern* p : cands)
    if (complete(*p, words.size())) done.push_back(p);
  if (done.size() == 1) return take_values(*done.front(), words);
  if (done.size() > 1) {
    return MatchError{MatchFailure::Ambiguous,
                      "ambiguous: \"debug " + joined(words, words.size()) + "\" fits " +
                          std::to_string(done.size()) + " commands",
                      {},
                      ids_of(done)};
  }
  return MatchError{MatchFailure::Incomplete,
                    "incomplete: \"debug " + joined(words, words.size()) + "\" needs more words",
                    expected_words(cands, words.size()), ids_of(cands)};
}

std::vector<std::string> next_words(const std::vector<std::string>& words) {
  std::vector<const CommandPattern*> cands;
  for (const CommandPattern& p : command_patterns()) cands.push_back(&p);
  for (std::size_t i = 0; i < words.size(); ++i) {
    Fit best = Fit::None;
    for (const CommandPattern* p : cands) best = std::max(best, fit(*p, i, words[i]));
    if (best == Fit::None) return {};
    std::vector<const CommandPattern*> kept;
    for (const CommandPattern* p : cands)
      if (fit(*p, i, words[i]) == best) kept.push_back(p);
    cands = std::move(kept);
  }
  std::vector<std::string> out;
  for (const CommandPattern* p : cands) {
    std::string_view w = word_at(*p, words.size());
    if (w.empty() || is_slot(w) || w == "NAME") continue;
    if (std::find(out.begin(), out.end(), w) == out.end()) out.emplace_back(w);
  }
  return out;
}

}  // namespace dravikctl
