// The ring reader on files written as the log manager writes them: records
// with sequence numbers, stamps, wraps, torn lines and older fragments.
#include "tools/client/ring.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using client::RingStatus;

// Writes lines from the write point, rewinding after a record past the wrap.
struct Writer {
  std::string file;
  std::size_t pos = 0, lines = 0;
  int seq = 0, sec = 0;
  void put(const std::string& line, bool stamp, std::size_t upto) {
    if (file.size() < pos + line.size()) file.resize(pos + line.size());
    file.replace(pos, upto, line.substr(0, upto));
    if (upto < line.size()) return;  // the rest comes with the next call
    pos += line.size();
    ++lines;
    if (!stamp && pos > client::kRingWrap) pos = lines = 0;
  }
  // n records of `pad` bytes each, a stamp ahead of every `every`-th.
  void records(int n, std::size_t pad, int every, const std::function<void()>& between = {}) {
    for (int i = 0; i < n; ++i) {
      if (seq % every == 0) {
        char s[64];
        std::snprintf(s, sizeof s, "#### Tue Dec  8 %02d:%02d:%02d 2026\n", sec / 3600,
                      sec / 60 % 60, sec % 60);
        ++sec;
        put(s, true, std::string(s).size());
      }
      const std::string r = "rec " + std::to_string(++seq) + " " + std::string(pad, 'x') + "\n";
      put(r, false, r.size() / 2);  // a flush may come in the middle of a record
      if (between) between();
      put(r, false, r.size());
    }
  }
};

// The sequence numbers of the records among lines, which must run forward
// by one (or, with jumps, at least by one); -1 when they do not.
std::vector<int> seqs(const std::vector<std::string>& lines, bool jumps = false) {
  std::vector<int> out;
  for (const std::string& l : lines) {
    int n = 0;
    if (std::sscanf(l.c_str(), "rec %d ", &n) != 1) continue;
    if (!out.empty() && (jumps ? n <= out.back() : n != out.back() + 1)) return {-1};
    out.push_back(n);
  }
  return out;
}

std::vector<std::string> text(const std::string& file, const client::RingRead& r) {
  std::vector<std::string> out;
  for (const auto& l : r.lines) out.push_back(file.substr(l.start, l.end - l.start));
  return out;
}

TEST(Ring, ReadsInTimeOrderAndLeavesOutWhatItCannotPlace) {
  const struct {
    const char* what;
    int records;  // of 100 B, after older laps of 150 B (which end further out)
    int hint_delta;
    bool hint, exact;
    RingStatus status;
  } cases[] = {
      {"exact count, stamps agree", 16000, 0, true, true, RingStatus::Exact},
      {"stamps alone", 16000, 0, false, false, RingStatus::Uncertain},
      {"a count past the stamps", 16000, 3000, true, true, RingStatus::Disagree},
      {"a count short of the stamps", 16000, -1500, true, true, RingStatus::Disagree},
      {"a count as a bound", 16000, -1500, true, false, RingStatus::Uncertain},
      {"never wrapped", 6000, 0, true, true, RingStatus::Whole},
  };
  for (const auto& c : cases) {
    Writer w;
    if (c.status != RingStatus::Whole) w.records(25000, 150, 1000);
    w.records(c.records, 100, 1000);
    std::optional<client::RingHint> hint;
    if (c.hint) hint = client::RingHint{w.lines + c.hint_delta, c.exact};
    const auto r = client::read_ring(w.file, hint);
    EXPECT_EQ(r.status, c.status) << c.what;
    const std::vector<int> got = seqs(text(w.file, r));
    ASSERT_FALSE(got.empty() || got[0] < 0) << c.what;  // no fragment, no torn line
    const bool whole = c.status == RingStatus::Whole || c.status == RingStatus::Exact;
    EXPECT_EQ(got.back() == w.seq, whole) << c.what << " ends with " << got.back();
    EXPECT_EQ(client::describe_gap(r).empty(), whole) << c.what;
    EXPECT_TRUE(!whole || r.write_point == w.pos) << c.what;
  }
  Writer w;
  w.records(3, 10, 1000);
  w.put("rec 4 being written\n", false, 8);
  EXPECT_EQ(seqs(text(w.file, client::read_ring(w.file))), (std::vector<int>{1, 2, 3}));
}

// A follower called at arbitrary flushes sees every record once, in order,
// across wraps; one that falls a lap behind says so and goes on in order.
TEST(Ring, FollowsAcrossWrapsAndSaysWhatItMissed) {
  for (bool lapped : {false, true}) {
    Writer w;
    w.records(2000, 100, 700);
    client::RingFollow f;
    std::vector<std::string> seen;
    bool missed = false;
    auto look = [&](bool asked) {
      auto s = client::follow_ring(f, w.file, client::RingHint{w.lines, false}, asked);
      if (s.need_hint) s = client::follow_ring(f, w.file, client::RingHint{w.lines, false}, true);
      missed |= s.missed;
      seen.insert(seen.end(), s.lines.begin(), s.lines.end());
    };
    look(true);
    int calls = 0;
    w.records(lapped ? 30000 : 70000, 100, 700, [&] {
      if (!lapped && ++calls % 97 == 0) look(false);
    });
    look(true);
    const std::vector<int> got = seqs(seen, lapped);
    EXPECT_EQ(missed, lapped);
    ASSERT_FALSE(got.empty() || got[0] < 0) << lapped;
    EXPECT_EQ(got.back(), w.seq);
    EXPECT_TRUE(lapped || got.front() == 1);
    // Opened anew: read from its start.
    const auto s = client::follow_ring(f, "rec 1 x\nrec 2 x\n", std::nullopt, false);
    EXPECT_TRUE(s.emptied && seqs(s.lines) == (std::vector<int>{1, 2}));
  }
}

}  // namespace
