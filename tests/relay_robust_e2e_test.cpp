// Requests and terminals that must not hurt the relay: command ids that name
// no command, terminal paths that do not fit a map row, terminals that would
// block or have lost their reader, DPP cores that are down or not reading, and
// thousands of subscriptions that must not leak a descriptor.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/relay_e2e_support.h"

namespace e2e::relay {
namespace {

using namespace std::chrono_literals;
using RelayRobustTest = RelayTest;

constexpr std::string_view kSendtoFailed = "updateDebugFlagOnSibyte : sendto failed, retval: -1";

TEST_F(RelayRobustTest, CommandIdsThatNameNoCommandAreAnsweredAndIgnored) {
  Pty a;
  auto core0 = dpp(0);
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, a.path))));
  core0->drain();
  const Lines map{row(99, 0x1, 55, 0, a.path)};
  const std::size_t fds = fd_count(pid());
  // Row 0 would be 0xDEADBEEF bits of module 0xDEADBEEF; 124 and 125 are
  // empty rows; the others lie outside the table.
  for (std::int32_t id : {0, 124, 125, -1, 127, 1000, -126, INT32_MIN}) {
    for (bool off : {false, true}) {
      SCOPED_TRACE("command " + std::to_string(id) + (off ? " off" : " on"));
      const std::string term = off ? a.path : dir() + "/t" + std::to_string(id);
      if (!off) touch(term);
      EXPECT_TRUE(is_empty_reply(ask(wire::encode_debug_request(make_request(id, 0, off, term)))));
      expect_updates(*core0, {});
      EXPECT_EQ(last_pass(), "VESK Opcode:1\nprocessVESKreq: CommandID " + std::to_string(id) +
                                 " names no debug command, ignored\n" + map[0] + "\n");
      EXPECT_EQ(fd_count(pid()), fds);
    }
  }
}

TEST_F(RelayRobustTest, TerminalPathsThatDoNotFitAreNeverStored) {
  auto core0 = dpp(0);
  // 99 characters fit a row with their terminator.
  const std::string fits = dir() + "/" + std::string(99 - dir().size() - 1, 'p');
  touch(fits);
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, fits))));
  expect_updates(*core0, {flag_bytes(kOn, 0x1, 55)});
  const Lines map{row(99, 0x1, 55, 0, fits)};
  EXPECT_EQ(printed_map(), map);
  const std::size_t fds = fd_count(pid());

  // 100 and 105 characters do not fit: such a terminal is never stored (nor
  // kept open), and that is said on a line of its own. The request still
  // does what a subscription that cannot be stored does: the on-update goes
  // out, an unsubscribe sends off the bits the last row lacks, and a listing
  // goes to the terminal.
  for (std::size_t length : {100u, 105u}) {
    SCOPED_TRACE(length);
    const std::string too_long = fits + std::string(length - 99, 'q');
    touch(too_long);
    EXPECT_TRUE(is_empty_reply(ask(on_request(4, 0, too_long))));
    EXPECT_TRUE(has_line(last_pass(), "storeInMap: terminal path too long, not stored"))
        << last_pass();
    EXPECT_EQ(printed_map(), map);
    EXPECT_EQ(fd_count(pid()), fds);
    expect_updates(*core0, {flag_bytes(kOn, 0x4, 55)});
    EXPECT_TRUE(is_empty_reply(ask(off_request(4, 0, too_long))));
    EXPECT_EQ(printed_map(), map);
    expect_updates(*core0, {flag_bytes(kOff, 0x4, 55)});
    EXPECT_TRUE(is_empty_reply(ask(show_request(too_long))));
    EXPECT_EQ(client::read_file(too_long),
              "Other vty(" + fits + "):\n\tdebug nivo ipstack eth port 1\n");
  }

  // A path field of 106 bytes with no NUL of its own, followed by text: the
  // request is refused whole.
  for (bool off : {false, true}) {
    Buf payload = off ? off_request(2, 0, "") : on_request(2, 0, "");
    for (std::size_t i = 0; i < wire::debug_request::kTermSize; ++i)
      payload[wire::debug_request::kTerm + i] = 'x';
    payload[wire::debug_request::kInit] = 'y';
    EXPECT_TRUE(is_empty_reply(ask(payload)));
    EXPECT_EQ(last_pass(), "VESK Opcode:1\nprocessVESKreq: terminal path too long, request "
                           "ignored\n" + map[0] + "\n");
    expect_updates(*core0, {});
  }

  // A request shorter than a DebugRequest reads as zero-padded: command id 2,
  // port 0, on, an empty terminal path that cannot be opened.
  EXPECT_TRUE(is_empty_reply(ask(Buf{0, 0, 0, 2})));
  expect_updates(*core0, {flag_bytes(kOn, 0x1, 55)});
  EXPECT_EQ(printed_map(), map);
  EXPECT_EQ(fd_count(pid()), fds);
}

TEST_F(RelayRobustTest, FifoWithoutReaderNeverBlocksTheDaemon) {
  auto core0 = dpp(0);
  const std::string fifo = dir() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  // No reader: the open fails at once instead of waiting for one.
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, fifo)))) << "the daemon hangs opening a FIFO";
  EXPECT_TRUE(d().wait_stderr_contains("open vty failed: No such device or address\n"));
  expect_updates(*core0, {flag_bytes(kOn, 0x1, 55)});
  EXPECT_EQ(printed_map(), Lines{});
  EXPECT_TRUE(is_empty_reply(ask(show_request(fifo))));

  // With a reader the row is stored and the listing is written to the FIFO.
  client::Fd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_GE(reader.fd, 0);
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, fifo))));
  EXPECT_EQ(printed_map(), Lines{row(99, 0x1, 55, 0, fifo)});
  ASSERT_TRUE(is_empty_reply(ask(show_request(fifo))));
  const std::string listing = "Current vty(" + fifo + "):\n\tdebug nivo ipstack eth port 1\n";
  char got[256] = {};
  EXPECT_EQ(::read(reader.fd, got, sizeof got), static_cast<ssize_t>(listing.size()));
  EXPECT_EQ(std::string(got), listing);

  // A reader that reads nothing more: once the FIFO is full, the listing
  // cannot be written, and the daemon goes on.
  client::Fd filler(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_GE(filler.fd, 0);
  std::vector<char> block(4096, 'f');
  while (::write(filler.fd, block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  EXPECT_TRUE(is_empty_reply(ask(show_request(fifo))));

  // The reader goes away: the listing cannot be opened and comes back in the
  // reply; the daemon is not killed by a broken pipe.
  reader.reset();
  auto reply = ask(show_request(fifo));
  ASSERT_TRUE(is_reply(reply));
  EXPECT_EQ(reply_text(*reply), "      vty(" + fifo + "):\n\tdebug nivo ipstack eth port 1\n");
  EXPECT_TRUE(is_empty_reply(ask(off_request(2, 0, fifo))));
  EXPECT_EQ(fds_of(pid(), fifo).size(), 0u);
  EXPECT_TRUE(d().running());
}

TEST_F(RelayRobustTest, TerminalThatStopsOrLosesItsReaderNeverHurtsTheDaemon) {
  auto core0 = dpp(0);
  std::string path;
  {
    Pty a;
    path = a.path;
    ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, path))));
    // Output stopped: the listing must not wait for it.
    ASSERT_EQ(::tcflow(a.slave, TCOOFF), 0);
    EXPECT_TRUE(is_empty_reply(ask(show_request(path)))) << "the daemon hangs on a stopped tty";
    ASSERT_EQ(::tcflow(a.slave, TCOON), 0);
    EXPECT_TRUE(is_empty_reply(ask(show_request(path))));
    const std::string listing = "Current vty(" + path + "):\n\tdebug nivo ipstack eth port 1\n";
    EXPECT_TRUE(a.read_until(listing).ends_with(listing));
  }  // both sides closed here; the daemon's row still holds the terminal
  auto reply = ask(show_request(path));
  ASSERT_TRUE(is_reply(reply)) << "the daemon did not answer";
  auto text = reply_text(*reply);
  ASSERT_TRUE(text);
  // The listing went to the dead terminal (lost) or, as it could not be
  // opened, into the reply.
  EXPECT_TRUE(text->empty() ||
              *text == "      vty(" + path + "):\n\tdebug nivo ipstack eth port 1\n")
      << *text;
  EXPECT_TRUE(is_empty_reply(ask(off_request(2, 0, path))));
  EXPECT_EQ(core0->drain().size(), 2u);
  EXPECT_EQ(printed_map(), Lines{});
  EXPECT_EQ(fds_of(pid(), path).size(), 0u);
  EXPECT_TRUE(d().running());
}

TEST_F(RelayRobustTest, DppCoreThatIsDownOrNotReading) {
  const std::string term = dir() + "/term";
  touch(term);
  // Core 3 has no endpoint: the update fails, the rest of the request holds.
  EXPECT_TRUE(is_empty_reply(ask(on_request(2, 3, term))));
  EXPECT_TRUE(has_line(last_pass(), kSendtoFailed)) << last_pass();
  EXPECT_EQ(printed_map(), Lines{row(99, 0x1, 55, 3, term)});
  EXPECT_TRUE(is_empty_reply(ask(off_request(2, 3, term))));
  EXPECT_TRUE(has_line(last_pass(), kSendtoFailed)) << last_pass();
  EXPECT_EQ(printed_map(), Lines{});

  // Core 2 is bound but does not read: once its queue is full, updates fail
  // (never block), and each one is either queued or reported.
  auto core2 = dpp(2);
  const std::size_t failed_before = d().stdout_count(kSendtoFailed);
  constexpr int kUpdates = 40;
  for (int i = 0; i < kUpdates; ++i)
    ASSERT_TRUE(is_empty_reply(ask(i % 2 ? off_request(2, 2, term) : on_request(2, 2, term)))) << i;
  const std::size_t failed = d().stdout_count(kSendtoFailed) - failed_before;
  EXPECT_GE(failed, 1u);
  EXPECT_EQ(failed + core2->drain().size(), static_cast<std::size_t>(kUpdates));
  // Reading again, the core gets the next update.
  EXPECT_TRUE(is_empty_reply(ask(on_request(2, 2, term))));
  expect_updates(*core2, {flag_bytes(kOn, 0x1, 55)});
}

TEST_F(RelayRobustTest, NoDescriptorLeaksAfterThousandsOfCycles) {
  Pty a;
  auto core0 = dpp(0);
  const std::string nowhere = dir() + "/no-such-dir/tty";
  const std::size_t at_start = fd_count(pid());
  std::size_t messages = 0, updates = 0, received = 0;
  auto send = [&](const Buf& payload) {
    ++messages;
    return is_reply(client::request(p(), kSap, kRelayOpcode, payload, kWait));
  };
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(send(on_request(2, 0, a.path))) << "cycle " << i;
    if (i % 200 == 0) {
      ASSERT_EQ(fd_count(pid()), at_start + 1) << "cycle " << i;
      ASSERT_TRUE(send(show_request(a.path)));
      ASSERT_TRUE(send(show_request(nowhere)));
      ASSERT_TRUE(send(on_request(4, 0, nowhere)));  // cannot be opened
      ++updates;
    }
    ASSERT_TRUE(send(off_request(2, 0, a.path))) << "cycle " << i;
    updates += 2;
    received += core0->drain().size();
  }
  settle(messages);
  EXPECT_EQ(received, updates);
  EXPECT_EQ(fd_count(pid()), at_start);
  EXPECT_EQ(printed_map(), Lines{});
}

}  // namespace
}  // namespace e2e::relay
