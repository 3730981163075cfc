#include "tools/client/ring.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace client {

namespace {

constexpr std::string_view kStampLead = "#### ";
constexpr std::size_t kCtimeLength = 24;  // "Tue Dec  8 15:52:45 2026"
// The least a guard covers, so that a later lap leaves it unchanged only by
// rare chance.
constexpr std::size_t kGuardBytes = 16;

std::string_view text_of(std::string_view bytes, const RingLine& l) {
  return bytes.substr(l.start, l.end - 1 - l.start);
}

// The complete lines of bytes[from, to), each ending at its newline.
std::vector<RingLine> split_lines(std::string_view bytes, std::size_t from, std::size_t to) {
  std::vector<RingLine> lines;
  while (from < to) {
    const void* nl = std::memchr(bytes.data() + from, '\n', to - from);
    if (nl == nullptr) break;
    RingLine l;
    l.start = from;
    l.end = static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) + 1;
    l.stamp = stamp_time(text_of(bytes, l)).has_value();
    lines.push_back(l);
    from = l.end;
  }
  return lines;
}

// Where the lap ends: after its first record past the wrap (a stamp never
// ends a lap: the check follows a record), as a count of lines; 0 when no
// record ends past the wrap.
std::size_t lap_end(const std::vector<RingLine>& lines) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (!lines[i].stamp && lines[i].end > kRingWrap) return i + 1;
  return 0;
}

// The offset after the first n lines of bytes; nothing when it has fewer.
std::optional<std::size_t> after_lines(std::string_view bytes, std::size_t n) {
  std::size_t at = 0;
  for (; n > 0; --n) {
    const void* nl = std::memchr(bytes.data() + at, '\n', bytes.size() - at);
    if (nl == nullptr) return std::nullopt;
    at = static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) + 1;
  }
  return at;
}

// Where the stamps place the write point, [lo, hi]. Stamps before it are all
// later than the stamps after it, and each group runs forward, so the first
// stamp earlier than the one before starts the older lap.
struct Bracket {
  std::size_t lo = 0, hi = 0;
  bool hi_is_stamp = false;  // hi starts an intact stamp of the older lap
  bool zero_ok = false;      // or the write point is 0: the file is one whole older lap
};

Bracket bracket_of(std::string_view bytes, const std::vector<RingLine>& lines, std::size_t end) {
  Bracket b{0, end, false, false};
  std::optional<std::int64_t> last;
  std::optional<std::size_t> last_end;
  for (const RingLine& l : lines) {
    if (!l.stamp) continue;
    const std::int64_t t = *stamp_time(text_of(bytes, l));
    if (last && t <= *last) return {*last_end, l.start, true, false};
    last = t;
    last_end = l.end;
  }
  // No stamp runs backwards: the stamps all belong to one side of the write
  // point. When the file starts with one, that side is the newest lap, or
  // the newest lap is still empty.
  if (last_end && !lines.empty() && lines.front().stamp) {
    b.lo = *last_end;
    b.zero_ok = true;
  }
  return b;
}

}  // namespace

std::optional<std::int64_t> stamp_time(std::string_view line) {
  if (!line.starts_with(kStampLead)) return std::nullopt;
  std::string_view rest = line.substr(kStampLead.size());
  if (rest.starts_with("[")) {  // "[<n> sec] " ahead of the time
    const std::size_t close = rest.find(" sec] ");
    if (close == std::string_view::npos) return std::nullopt;
    int gap = 0;
    auto [p, ec] = std::from_chars(rest.data() + 1, rest.data() + close, gap);
    if (ec != std::errc() || p != rest.data() + close) return std::nullopt;
    rest.remove_prefix(close + 6);
  }
  if (rest.size() != kCtimeLength) return std::nullopt;
  std::tm tm{};
  const std::string text(rest);
  const char* end = ::strptime(text.c_str(), "%a %b %d %H:%M:%S %Y", &tm);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return static_cast<std::int64_t>(::timegm(&tm));
}

RingRead read_ring(std::string_view bytes, std::optional<RingHint> hint) {
  RingRead r;
  std::vector<RingLine> lines = split_lines(bytes, 0, bytes.size());
  const std::size_t n_lap = lap_end(lines);
  if (n_lap == 0) {
    // No record ends past the wrap: the file has never wrapped and is one
    // lap, written from its start.
    r.lines = std::move(lines);
    r.write_point = r.lines.empty() ? 0 : r.lines.back().end;
    return r;
  }
  lines.resize(n_lap);  // past the lap's end: an older lap's fragment
  const std::size_t end = lines.back().end;
  Bracket b = bracket_of(bytes, lines, end);

  std::optional<std::size_t> exact;
  if (hint) {
    std::optional<std::size_t> h = after_lines(bytes.substr(0, end), hint->lines);
    if (!h || *h > b.hi || (hint->exact && *h < b.lo && !(*h == 0 && b.zero_ok))) {
      r.status = RingStatus::Disagree;
    } else if (hint->exact) {
      exact = *h;
    } else {
      b.lo = std::max(b.lo, *h);
    }
  }
  if (!exact && b.lo == b.hi) exact = b.lo;
  if (exact) {
    // The line starting at the write point is the older lap's from there
    // on: torn, unless it is the stamp that showed where the lap changes, or
    // the older lap's own first line.
    const std::size_t p = *exact;
    for (const RingLine& l : lines)
      if (l.start > p || (l.start == p && ((b.hi_is_stamp && b.hi == p) || p == 0)))
        r.lines.push_back(l);
    for (const RingLine& l : lines)
      if (l.end <= p) r.lines.push_back(l);
    r.status = RingStatus::Exact;
    r.write_point = p;
    return r;
  }
  if (r.status != RingStatus::Disagree) r.status = RingStatus::Uncertain;
  for (const RingLine& l : lines)
    if (l.start >= b.hi) r.lines.push_back(l);
  for (const RingLine& l : lines)
    if (l.end <= b.lo) r.lines.push_back(l);
  r.write_point = b.lo;
  r.gap_from = b.lo;
  r.gap_to = b.hi;
  return r;
}

std::string describe_gap(const RingRead& r) {
  if (r.status != RingStatus::Uncertain && r.status != RingStatus::Disagree) return "";
  std::string why = r.status == RingStatus::Disagree
                        ? "the report's line count does not fit the file's time stamps"
                        : "neither the time stamps nor the report tell where the write point is";
  return why + "; bytes " + std::to_string(r.gap_from) + " to " + std::to_string(r.gap_to) +
         " around it were left out";
}

namespace {

// The end of the changes past `from`: bytes of now that differ from image,
// or that image does not reach. `from` when nothing past it changed.
std::size_t changed_until(std::string_view now, std::string_view image, std::size_t from) {
  if (now.size() > image.size()) return now.size();
  constexpr std::size_t kChunk = 4096;
  std::size_t i = now.size();
  while (i > from) {
    const std::size_t n = std::min(kChunk, i - from);
    if (std::memcmp(now.data() + i - n, image.data() + i - n, n) != 0) break;
    i -= n;
  }
  while (i > from && now[i - 1] == image[i - 1]) --i;
  return i;
}

void set_guard(RingFollow& f, const RingLine& l) {
  f.guard_to = std::min(l.end, kRingWrap);
  f.guard_from = std::min(l.start, f.guard_to >= kGuardBytes ? f.guard_to - kGuardBytes : 0);
}

void give(RingFollow& f, FollowStep& s, std::string_view now, const RingLine& l) {
  s.lines.emplace_back(now.substr(l.start, l.end - l.start));
  if (f.image.size() < l.end) f.image.resize(l.end);
  std::memcpy(f.image.data() + l.start, now.data() + l.start, l.end - l.start);
  set_guard(f, l);
}

// A fresh read: what the file tells now, in order; later calls go on from
// the write point (or the earliest place it can be: whatever lies between it
// and the real one is taken once it has been written past).
void restart(RingFollow& f, FollowStep& s, std::string_view now, const RingRead& r,
             std::size_t skip_old_before, bool skip_old) {
  for (const RingLine& l : r.lines) {
    const bool old = l.start >= r.write_point;
    if (old && (skip_old || l.start < skip_old_before)) continue;
    s.lines.emplace_back(now.substr(l.start, l.end - l.start));
  }
  f.image.assign(now);
  f.pos = r.write_point;
  f.guard_from = f.guard_to = 0;
  for (const RingLine& l : r.lines)
    if (l.end == f.pos) set_guard(f, l);
  f.lap_start = false;
  s.gap = describe_gap(r);
}

}  // namespace

FollowStep follow_ring(RingFollow& f, std::string_view now, std::optional<RingHint> hint,
                       bool asked) {
  FollowStep s;
  if (!f.started) {
    f.started = true;
    restart(f, s, now, read_ring(now, hint), 0, false);
    return s;
  }
  if (hint) hint->exact = false;      // a file being followed changes as it is read
  if (now.size() < f.image.size()) {  // opened anew with "w"
    s.emptied = true;
    f = RingFollow{};
    f.started = true;
  }
  const std::string_view image = f.image;
  if (f.guard_to > f.guard_from &&
      (now.size() < f.guard_to || now.substr(f.guard_from, f.guard_to - f.guard_from) !=
                                      image.substr(f.guard_from, f.guard_to - f.guard_from))) {
    // A later lap wrote over the last line given. Where is its write point?
    if (!asked) {
      s.need_hint = true;
      return s;
    }
    const RingRead r = read_ring(now, hint);
    const bool known = r.status == RingStatus::Exact || r.status == RingStatus::Whole;
    const std::size_t upper = known ? r.write_point : r.gap_to;
    // Still within the lap being begun, or the next lap short of pos: what
    // is left of the lap being read is intact.
    const bool intact = f.lap_start ? r.write_point >= f.guard_from : upper <= f.pos;
    s.missed = !intact;
    restart(f, s, now, r, f.pos, intact && f.lap_start);
    return s;
  }
  std::optional<std::size_t> told;  // the hint's place, in the lap being read
  if (hint) told = after_lines(now, hint->lines);
  for (;;) {
    std::size_t limit = changed_until(now, f.image, f.pos);
    if (told && *told > f.pos) limit = std::max(limit, *told);
    // A later lap has begun: the writer finished this one, so it is written
    // to its end, also where its bytes happen to equal the older ones.
    if (std::memcmp(now.data(), f.image.data(), f.pos) != 0) limit = now.size();
    bool lap_ended = false;
    for (const RingLine& l : split_lines(now, f.pos, limit)) {
      give(f, s, now, l);
      f.pos = l.end;
      f.lap_start = false;
      if (!l.stamp && l.end > kRingWrap) {
        lap_ended = true;
        break;
      }
    }
    if (!lap_ended) {
      s.pending = limit > f.pos;
      return s;
    }
    // The writer rewound after that record; the next lap starts at 0. The
    // hint may count a lap already read: it is not carried over.
    f.pos = 0;
    f.lap_start = true;
    told.reset();
  }
}

std::vector<LogFileEntry> parse_log_files(std::string_view report) {
  std::vector<LogFileEntry> out;
  std::size_t at = 0;
  while (at < report.size()) {
    std::size_t nl = report.find('\n', at);
    if (nl == std::string_view::npos) nl = report.size();
    const std::string line(report.substr(at, nl - at));
    at = nl + 1;
    LogFileEntry e;
    char name[256];
    int used = 0;
    if (std::sscanf(line.c_str(), "DPP-%d logfile: %255s (line#: %ld, size: %ld)%n", &e.dpp, name,
                    &e.lines, &e.size, &used) == 4 &&
        used == static_cast<int>(line.size())) {
      e.name = name;
      out.push_back(e);
    }
  }
  return out;
}

}  // namespace client
