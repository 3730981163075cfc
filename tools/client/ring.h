// A DPP's log file read as the ring it is, in time order.
//
// The log manager writes each DPP's file from offset 0; once the position
// after a record exceeds kRingWrap it rewinds to 0 without truncating. So a
// file that has wrapped holds, in this order:
//   [0, P)       the newest lap, up to the write point P;
//   [P, E)       the tail of the lap before, its first line torn by P; the
//                lap ended at E, the end of its first record past kRingWrap;
//   [E, size)    possibly a fragment of an even older lap (laps end at
//                slightly different sizes), older than all the rest.
// Time-stamp lines ("#### <ctime>" or "#### [<n> sec] <ctime>") run forward
// through the file's whole history: a stamp is written only when the clock
// has passed the previous one. Where they stop running forward, the newest
// lap gives way to the older one. (They are read as wall-clock times: a clock
// or zone set back makes them run backwards too; the report's count then
// disagrees, and the lines in question are left out.)
//
// The log manager's report ("DPP-%d logfile: %s (line#: %d, size: %d)")
// gives a second witness: line# counts the lines of the newest lap. It counts
// a record holding newlines once, it is stale by the time the file is read,
// and it lists only some DPPs, so it is taken as a hint and checked against
// the stamps. Where the two disagree or neither tells, the lines around the
// write point are left out rather than given out of order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

// A record whose end leaves the write position past this wraps the file.
constexpr std::size_t kRingWrap = 0x200000;

// One complete line of a file: bytes [start, end), end just past its newline.
struct RingLine {
  std::size_t start = 0, end = 0;
  bool stamp = false;  // a time-stamp line
};

// The report's count of a file's newest-lap lines. exact: taken while the
// file did not change (the count was the same just before and just after the
// file was read), so the write point is right after that many lines.
// Otherwise it only says the write point lies no earlier.
struct RingHint {
  std::size_t lines = 0;
  bool exact = false;
};

enum class RingStatus {
  Whole,      // the file has not wrapped: every complete line
  Exact,      // wrapped, the write point known: every line but the torn one
  Uncertain,  // wrapped; the write point lies in [gap_from, gap_to): left out
  Disagree,   // as Uncertain, and the hint does not fit the stamps (ignored)
};

struct RingRead {
  RingStatus status = RingStatus::Whole;
  std::vector<RingLine> lines;  // oldest first, newest last
  // Where the newest lap's lines given out end: the write point, or (when
  // not Exact or Whole) the earliest place it can be.
  std::size_t write_point = 0;
  std::size_t gap_from = 0, gap_to = 0;  // bytes left out (Uncertain, Disagree)
};

// Reads a file's bytes in time order. A line without its newline at the end
// of the file is never given (its record is still being written).
RingRead read_ring(std::string_view bytes, std::optional<RingHint> hint = std::nullopt);

// The moment a time-stamp line names, in seconds, comparable between
// stamps; nothing when the line (without its newline) is not a stamp.
std::optional<std::int64_t> stamp_time(std::string_view line);

// One operator sentence on what a read left out; empty when nothing was.
std::string describe_gap(const RingRead& r);

// Follows a file as it changes: each call takes the file's bytes as they
// are now and gives the lines written since the last call, once each and in
// order, never a torn one. What it knows of the file is kept here.
struct RingFollow {
  std::string image;    // the file as first read, overlaid with every line given since
  std::size_t pos = 0;  // where the next line of the lap being read starts
  // The last line given (kept below kRingWrap): a later lap overwrites it
  // before it reaches pos. After a lap's end, it is that lap's last line.
  std::size_t guard_from = 0, guard_to = 0;
  bool lap_start = false;  // pos is 0 after a lap's end
  bool started = false;
};

struct FollowStep {
  std::vector<std::string> lines;  // with their newlines
  bool need_hint = false;  // call again with the report's hint (or with none, when there is none)
  bool missed = false;     // a later lap overwrote lines before they were read
  bool emptied = false;    // the file was emptied (opened anew) and is read from its start
  bool pending = false;    // bytes past the last line given: a hint can release them
  std::string gap;         // describe_gap of a fresh read, if it left lines out
};

// hint: the report's count of the file's lines, asked for before `now` was
// read (nothing when the daemon did not list the file); asked: whether the
// report was asked for this call. After need_hint, call again with asked set.
FollowStep follow_ring(RingFollow& f, std::string_view now, std::optional<RingHint> hint,
                       bool asked);

// One entry of the log manager's report.
struct LogFileEntry {
  int dpp = 0;
  std::string name;  // "dbg.1"
  long lines = 0, size = 0;
};
// Every "DPP-%d logfile: %s (line#: %d, size: %d)" line of a report.
std::vector<LogFileEntry> parse_log_files(std::string_view report);

}  // namespace client
