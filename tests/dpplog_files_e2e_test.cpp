// The per-DPP log files seen from outside: SET_DEBUG type 4 opens a set of
// files under DRAVIK_FS_ROOT with their links, records of a DPP with an open
// file go to it through the stream's buffer (a show request flushes it),
// time-stamp lines follow the time zone that the 3102 notification sets, and
// an off request sends the records back to the debug facility.
#include <unistd.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "tests/dpplog_e2e_support.h"
#include "wire/dpp_log_msg.h"

namespace e2e {
namespace {

using client::path_exists;
using client::read_file;
using client::read_lines;
using Lines = std::vector<std::string>;

const std::string kAllFour = std::string(kHead) + "1 2 3 4 \n\n";

struct Files : Session {
  using Session::Session;

  std::string open(std::string_view name) {
    return set_debug({.type = 4, .on = 1, .name = name});
  }
  std::string close() { return set_debug({.type = 4, .on = 0, .name = "ignored"}); }
  void map_all() { set_debug({.type = 2, .on = 1, .all = 1, .name = "/dev/null"}); }

  // A category-5 record "[DPPn] mem: <text>" from the core given.
  void record(std::uint16_t core, std::string_view text) {
    from_dpp(core, 7, wire::encode_dpp_log(0, 5, {}, text));
  }
  // Per-port debug text (sender opcode 88) from the core given.
  void port_text(std::uint16_t core, std::uint32_t length, std::string_view text) {
    from_dpp(core, 88, wire::encode_port_debug_text(length, text));
  }

  std::string file(std::string_view name) const {
    return client::fs_path(d.platform(), "/cpp/plinder_dpp_logs/" + std::string(name));
  }
  std::string link(std::string_view name) const {
    return client::fs_path(d.platform(), "/var/log/external/" + std::string(name));
  }
  Lines facility() const { return client::dbgfac_log_lines(d.platform()); }
};

std::string readlink_of(const std::string& path) {
  char buf[4096];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? "<no link>" : std::string(buf, static_cast<std::size_t>(n));
}

std::string logfile_line(int dpp, std::string_view name, std::size_t lines, std::size_t size) {
  return "DPP-" + std::to_string(dpp) + " logfile: " + std::string(name) +
         " (line#: " + std::to_string(lines) + ", size: " + std::to_string(size) + ")\n";
}

// ctime text: "Wed Jun 30 21:49:08 1993".
const std::regex kCtime(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d \d{4})");
const std::regex kPlainStamp("#### (.{24})");

// The records of a log file, time-stamp lines left out.
Lines records_of(const Lines& lines) {
  Lines out;
  for (const auto& l : lines)
    if (!l.starts_with("#### ")) out.push_back(l);
  return out;
}

// A file's lines: a plain time stamp first, then the records given (records
// of one second share a stamp, so a later stamp may fall between them).
::testing::AssertionResult holds_records(const Lines& lines,
                                         const Lines& records) {
  if (lines.empty()) return ::testing::AssertionFailure() << "the file is empty";
  std::smatch m;
  if (!std::regex_match(lines[0], m, kPlainStamp) || !std::regex_match(m[1].str(), kCtime))
    return ::testing::AssertionFailure() << "first line " << lines[0];
  if (records_of(lines) != records)
    return ::testing::AssertionFailure() << ::testing::PrintToString(lines);
  return ::testing::AssertionSuccess();
}

// The time a ctime text shows, read as if it were UTC.
std::time_t as_utc(const std::string& text) {
  std::tm tm{};
  if (::strptime(text.c_str(), "%a %b %d %H:%M:%S %Y", &tm) == nullptr) return -1;
  return ::timegm(&tm);
}

TEST(DppLogFilesTest, OpenSameNameOtherNameAndOff) {
  Files f;
  f.map_all();
  // A link left from an earlier run is replaced.
  ASSERT_EQ(client::make_dirs(client::fs_path(f.d.platform(), "/var/log/external")), 0);
  ASSERT_EQ(::symlink("/nowhere", f.link("dbg.2").c_str()), 0);

  EXPECT_EQ(f.open("dbg"), "");
  std::string none_yet;
  for (int n = 1; n <= 4; ++n) {
    const std::string name = "dbg." + std::to_string(n);
    EXPECT_EQ(read_file(f.file(name)), "") << name;
    EXPECT_EQ(readlink_of(f.link(name)), f.file(name)) << name;
    none_yet += logfile_line(n, name, 0, 0);
  }
  EXPECT_EQ(f.show(), none_yet + kAllFour);
  EXPECT_EQ(f.d.stdout_count("\n Display output files map:15 flag:0 plinder_dpps:15"
                             "\n Display map:15Waiting for a message...\n"),
            1u);

  f.record(0, "one");
  f.record(3, "two");
  f.port_text(9, 100, "a\nb\n");
  // The records wait in the streams' buffers, not in the facility.
  EXPECT_EQ(read_file(f.file("dbg.1")), "");
  EXPECT_TRUE(f.facility().empty()) << ::testing::PrintToString(f.facility());

  // The report seeks each stream, which writes its buffer out.
  std::string report = f.show();
  auto dbg1 = read_lines(f.file("dbg.1"));
  auto dbg3 = read_lines(f.file("dbg.3"));
  EXPECT_TRUE(holds_records(dbg1, {"[DPP1] mem: one", "[DPP1] mem: two"}));
  EXPECT_TRUE(holds_records(dbg3, {"a", "b"}));
  EXPECT_EQ(read_lines(f.link("dbg.1")), dbg1);
  const std::size_t size1 = read_file(f.file("dbg.1"))->size();
  const std::size_t size3 = read_file(f.file("dbg.3"))->size();
  EXPECT_EQ(report, logfile_line(1, "dbg.1", dbg1.size(), size1) +
                        logfile_line(2, "dbg.2", 0, 0) +
                        logfile_line(3, "dbg.3", dbg3.size(), size3) +
                        logfile_line(4, "dbg.4", 0, 0) + kAllFour);

  // The same name again changes nothing: no file is emptied, counters go on.
  EXPECT_EQ(f.open("dbg"), "");
  EXPECT_EQ(f.show(), report);
  f.record(1, "three");
  f.show();
  auto more = read_lines(f.file("dbg.1"));
  EXPECT_TRUE(holds_records(more, {"[DPP1] mem: one", "[DPP1] mem: two", "[DPP1] mem: three"}));
  EXPECT_EQ(Lines(more.begin(), more.begin() + dbg1.size()), dbg1);

  // Another name closes the old files (their last records are written out)
  // and keeps them and their links; the new set starts empty.
  f.record(2, "four");
  EXPECT_EQ(f.open("alt"), "");
  EXPECT_TRUE(holds_records(read_lines(f.file("dbg.1")),
                            {"[DPP1] mem: one", "[DPP1] mem: two", "[DPP1] mem: three",
                             "[DPP1] mem: four"}));
  EXPECT_EQ(readlink_of(f.link("dbg.1")), f.file("dbg.1"));
  EXPECT_EQ(readlink_of(f.link("alt.4")), f.file("alt.4"));
  EXPECT_TRUE(f.show().starts_with(logfile_line(1, "alt.1", 0, 0)));
  f.record(12, "five");
  f.show();
  EXPECT_TRUE(holds_records(read_lines(f.file("alt.4")), {"[DPP4] mem: five"}));
  EXPECT_EQ(records_of(read_lines(f.file("dbg.4"))), Lines{});

  // Off: the files stay on disk, written out; the records go to the facility.
  f.record(12, "six");
  EXPECT_EQ(f.close(), "");
  EXPECT_TRUE(holds_records(read_lines(f.file("alt.4")), {"[DPP4] mem: five", "[DPP4] mem: six"}));
  EXPECT_EQ(f.show(), kAllFour);
  f.record(12, "seven");
  EXPECT_EQ(f.facility(), Lines{"[DPP4] mem: seven"});
  EXPECT_EQ(f.close(), "") << "an off request with no file open prints nothing";

  // Reopening a name empties its files.
  EXPECT_EQ(f.open("dbg"), "");
  EXPECT_EQ(read_file(f.file("dbg.1")), "");

  // The report lists the files of the DPPs that are mapped and take part in
  // logging, only.
  f.set_debug({.type = 2, .on = 0, .dpp_mask = 0x2, .name = ""});
  wire::DnldFeatureRqst off{.feature = wire::kFeaturePlinderOff, .count = 1, .dpps = {2}};
  f.notify(7571, wire::encode_feature_rqst(off));
  EXPECT_EQ(f.show(), logfile_line(1, "dbg.1", 0, 0) + logfile_line(4, "dbg.4", 0, 0) +
                          std::string(kHead) + "1 4 \n\n");
  // A DPP left out of the report still writes to its file.
  f.record(4, "unlisted");
  f.close();
  EXPECT_TRUE(holds_records(read_lines(f.file("dbg.2")), {"[DPP2] mem: unlisted"}));
}

// DPP 1's link and DPP 2's file cannot be made: DPP 1 writes to its file all
// the same, DPP 2's records go to the facility, and the same name again
// retries nothing.
TEST(DppLogFilesTest, FilesAndLinksThatCannotBeMade) {
  Files f(DaemonOptions().failing("fs_fopen@2,fs_symlink@1"));
  f.map_all();
  EXPECT_EQ(f.open("dbg"),
            "DPPDEBUG_MGR_ERR: Link creation failed for /cpp/plinder_dpp_logs/dbg.1 to "
            "/var/log/external/dbg.1\n"
            "DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/dbg.2 file\n");
  EXPECT_FALSE(path_exists(f.link("dbg.1")));
  EXPECT_FALSE(path_exists(f.file("dbg.2")));
  EXPECT_FALSE(path_exists(f.link("dbg.2")));
  f.record(0, "kept");
  f.record(4, "to the facility");
  EXPECT_EQ(f.open("dbg"), "");
  // DPP 1: a stamp line (30 bytes) and "[DPP1] mem: kept\n" (17).
  EXPECT_EQ(f.show(), logfile_line(1, "dbg.1", 2, 30 + 17) +
                          logfile_line(3, "dbg.3", 0, 0) + logfile_line(4, "dbg.4", 0, 0) +
                          kAllFour);
  EXPECT_TRUE(holds_records(read_lines(f.file("dbg.1")), {"[DPP1] mem: kept"}));
  EXPECT_EQ(f.facility(), Lines{"[DPP2] mem: to the facility"});
}

// A name that would lead out of the card's directories is refused by the
// host like any unwritable path; with no file open, the next request with
// the same name tries again.
TEST(DppLogFilesTest, ANameLeadingOutOfTheRootOpensNothing) {
  Files f;
  std::string expected;
  for (int n = 1; n <= 4; ++n)
    expected += "DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/../../../../esc." +
                std::to_string(n) + " file\n";
  EXPECT_EQ(f.open("../../../../esc"), expected);
  EXPECT_EQ(f.open("../../../../esc"), expected);
  EXPECT_FALSE(path_exists(f.d.dir() + "/esc.1"));
  f.record(0, "still here");
  EXPECT_EQ(f.facility(), Lines{"[DPP1] mem: still here"});
}

// On a one-DPP card only DPP 1 has a file; a record from a DPP number above
// the card's goes to the facility, and nothing breaks.
TEST(DppLogFilesTest, OneDppCardAndADppNumberBeyondIt) {
  Files f(DaemonOptions().card("41"));
  f.map_all();
  EXPECT_EQ(f.open("one"), "");
  EXPECT_TRUE(path_exists(f.file("one.1")));
  EXPECT_FALSE(path_exists(f.file("one.2")));
  f.record(4, "beyond");
  f.record(15, "far beyond");
  f.record(0, "mine");
  f.port_text(4, 50, "port text\n");
  std::string report = f.show();
  EXPECT_EQ(report, logfile_line(1, "one.1", 2, read_file(f.file("one.1"))->size()) +
                        std::string(kHead) + "1 \n\n");
  EXPECT_TRUE(holds_records(read_lines(f.file("one.1")), {"[DPP1] mem: mine"}));
  EXPECT_EQ(f.facility(), (Lines{"[DPP2] mem: beyond",
                                                    "[DPP4] mem: far beyond", "port text"}));
  EXPECT_TRUE(f.d.running());
}

// The zone of the notification, not the one the daemon started with, shapes
// the time-stamp lines. (The stamps' gaps are checked with a controllable
// clock, and the 2 MiB ring likewise.)
TEST(DppLogFilesTest, TimeStampsFollowTheNotifiedZone) {
  Files f(DaemonOptions().zone("XYZ+3"));
  f.map_all();  // the report then writes DPP 1's buffer out
  f.notify(3102, Buf{'X', 'Y', 'Z', '-', '5', 0});
  f.open("east");
  const std::time_t before = std::time(nullptr);
  f.record(0, "five hours east");
  const std::time_t after = std::time(nullptr);
  f.show();
  auto lines = read_lines(f.file("east.1"));
  EXPECT_TRUE(holds_records(lines, {"[DPP1] mem: five hours east"}));
  std::smatch m;
  ASSERT_TRUE(!lines.empty() && std::regex_match(lines[0], m, kPlainStamp));
  const std::time_t east = as_utc(m[1].str()) - 5 * 3600;
  EXPECT_GE(east, before);
  EXPECT_LE(east, after);
}

}  // namespace
}  // namespace e2e
