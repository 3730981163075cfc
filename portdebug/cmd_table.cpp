#include "portdebug/cmd_table.h"

#include "wire/debug_request.h"

// The rows are listed in id order; the order matters to the listing, which
// takes the first row in index order that fits a subscription's bits.
constexpr CmdMaskEntry cmdMaskTable[kCmdMaskTableRows] = {
    /*   0 */ {0xDEADBEEF, 0xDEADBEEF, "unused"},
    /*   1 */ {0xFFFFFFFF, 55, "\tdebug nivo ipstack all port %d\n"},
    /*   2 */ {0x00000001, 55, "\tdebug nivo ipstack eth port %d\n"},
    /*   3 */ {0x00000002, 55, "\tdebug nivo ipstack eth-detail port %d\n"},
    /*   4 */ {0x00000004, 55, "\tdebug nivo ipstack arp port %d\n"},
    /*   5 */ {0x00000008, 55, "\tdebug nivo ipstack arp-detail port %d\n"},
    /*   6 */ {0x00000010, 55, "\tdebug nivo ipstack ip port %d\n"},
    /*   7 */ {0x00000020, 55, "\tdebug nivo ipstack ip-detail port %d\n"},
    /*   8 */ {0x00000040, 55, "\tdebug nivo ipstack tcp port %d\n"},
    /*   9 */ {0x00000080, 55, "\tdebug nivo ipstack tcp flow-detail port %d\n"},
    /*  10 */ {0x00000100, 55, "\tdebug nivo ipstack udp port %d\n"},
    /*  11 */ {0x00000200, 55, "\tdebug nivo ipstack udp-detail port %d\n"},
    /*  12 */ {0x00000400, 55, "\tdebug nivo ipstack icmp port %d\n"},
    /*  13 */ {0x01000000, 55, "\tdebug nivo ipstack sdip port %d\n"},
    /*  14 */ {0x00001000, 55, "\tdebug nivo ipstack if port %d\n"},
    /*  15 */ {0x00100000, 55, "\tdebug nivo ipstack vrrp port %d\n"},
    /*  16 */ {0x00004000, 55, "\tdebug nivo ipstack route port %d\n"},
    /*  17 */ {0x00200000, 55, "\tdebug nivo ipstack vrrp-detail port %d\n"},
    /*  18 */ {0x00010000, 55, "\tdebug nivo ipstack in port %d\n"},
    /*  19 */ {0x00400000, 55, "\tdebug nivo ipstack tcp port %d sack\n"},
    /*  20 */ {0x00040000, 55, "\tdebug nivo ipstack tcpfsm port %d\n"},
    /*  21 */ {0x00000800, 55, "\tdebug nivo ipstack tcp ctlflow port %d\n"},
    /*  22 */ {0x80000000, 55, "\tdebug nivo ipstack error port %d\n"},
    /*  23 */ {0x00080000, 55, "\tdebug nivo ipstack eth-cfg port %d\n"},
    /*  24 */ {0xFFFFFFFF, 66, "\tdebug nivo iscsi all port %d\n"},
    /*  25 */ {0x00000001, 66, "\tdebug nivo iscsi event port %d\n"},
    /*  26 */ {0x00000002, 66, "\tdebug nivo iscsi login port %d\n"},
    /*  27 */ {0x00000004, 66, "\tdebug nivo iscsi fsm port %d\n"},
    /*  28 */ {0x00000008, 66, "\tdebug nivo iscsi pkt port %d\n"},
    /*  29 */ {0x00000010, 66, "\tdebug nivo iscsi pkt port %d detail\n"},
    /*  30 */ {0x00000040, 66, "\tdebug nivo iscsi buf port %d\n"},
    /*  31 */ {0x00000080, 66, "\tdebug nivo iscsi api port %d\n"},
    /*  32 */ {0x00000100, 66, "\tdebug nivo iscsi error port %d\n"},
    /*  33 */ {0x00000200, 66, "\tdebug nivo iscsi transaction port %d\n"},
    /*  34 */ {0x00010000, 66, "\tdebug nivo iscsi fcpevent port %d\n"},
    /*  35 */ {0x00020000, 66, "\tdebug nivo iscsi fcpframe port %d\n"},
    /*  36 */ {0x00040000, 66, "\tdebug nivo iscsi fcpframe port %d detail\n"},
    /*  37 */ {0x00080000, 66, "\tdebug nivo iscsi fcpfsm port %d\n"},
    /*  38 */ {0xFFFFFFFF, 77, "\tdebug nivo fcip all port %d\n"},
    /*  39 */ {0x00000001, 77, "\tdebug nivo fcip eth port %d\n"},
    /*  40 */ {0x00400000, 55, "\tdebug nivo ipstack tcp rexmt port %d\n"},
    /*  41 */ {0x00000002, 77, "\tdebug nivo fcip ctlpkt port %d\n"},
    /*  42 */ {0x00000006, 77, "\tdebug nivo fcip ctlpkt-detail port %d\n"},
    /*  43 */ {0x00000008, 77, "\tdebug nivo fcip datapkt port %d\n"},
    /*  44 */ {0x00000018, 77, "\tdebug nivo fcip datapkt-detail port %d\n"},
    /*  45 */ {0x80000000, 77, "\tdebug nivo fcip err port %d\n"},
    /*  46 */ {0x00000800, 66, "\tdebug nivo iscsi task port %d\n"},
    /*  47 */ {0x00000020, 66, "\tdebug nivo iscsi parse port %d\n"},
    /*  48 */ {0x00000400, 66, "\tdebug nivo iscsi warn port %d\n"},
    /*  49 */ {0x04000000, 55, "\tdebug nivo ipstack eth-chan port %d\n"},
    /*  50 */ {0x00000020, 77, "\tdebug nivo fcip write-acc port %d\n"},
    /*  51 */ {0x00000040, 77, "\tdebug nivo fcip write-acc-pkt port %d\n"},
    /*  52 */ {0x00000080, 77, "\tdebug nivo fcip write-acc-err port %d\n"},
    /*  53 */ {0x00000100, 77, "\tdebug nivo fcip write-acc-event port %d\n"},
    /*  54 */ {0x00000400, 77, "\tdebug nivo fcip tape-acc port %d\n"},
    /*  55 */ {0x00000800, 77, "\tdebug nivo fcip tape-acc-err port %d\n"},
    /*  56 */ {0x00001000, 77, "\tdebug nivo fcip tape-acc-det port %d\n"},
    /*  57 */ {0x00002000, 77, "\tdebug nivo fcip read-acc port %d\n"},
    /*  58 */ {0x00004000, 77, "\tdebug nivo fcip read-acc-err port %d\n"},
    /*  59 */ {0x00000002, 80, "\tdebug nivo crypto flow port %d\n"},
    /*  60 */ {0x00000004, 80, "\tdebug nivo crypto ipsec port %d\n"},
    /*  61 */ {0x00000008, 80, "\tdebug nivo crypto error port %d\n"},
    /*  62 */ {0x00000010, 80, "\tdebug nivo crypto api port %d\n"},
    /*  63 */ {0xFFFFFFFF, 80, "\tdebug nivo crypto all port %d\n"},
    /*  64 */ {0x00000001, 80, "\tdebug nivo crypto exc port %d\n"},
    /*  65 */ {0x00000001, 81, "\tdebug nivo quellan fsm port %d\n"},
    /*  66 */ {0x00000002, 81, "\tdebug nivo quellan fsm-detail port %d\n"},
    /*  67 */ {0x00000004, 81, "\tdebug nivo quellan flow port %d\n"},
    /*  68 */ {0x00000008, 81, "\tdebug nivo quellan flow-detail port %d\n"},
    /*  69 */ {0x00000010, 81, "\tdebug nivo quellan error port %d\n"},
    /*  70 */ {0xFFFFFFFF, 81, "\tdebug nivo quellan all port %d\n"},
    /*  71 */ {0x00002000, 55, "\tdebug nivo ipstack internal port %d\n"},
    /*  72 */ {0x00008000, 55, "\tdebug nivo ipstack acl port %d\n"},
    /*  73 */ {0xFFFFFFFF, 82, "\tdebug nivo cloud all port %d\n"},
    /*  74 */ {0x00000001, 82, "\tdebug nivo cloud xipc port %d\n"},
    /*  75 */ {0x00000002, 82, "\tdebug nivo cloud ping port %d\n"},
    /*  76 */ {0x00020000, 55, "\tdebug nivo ipstack nd6 port %d\n"},
    /*  77 */ {0x02000000, 55, "\tdebug nivo ipstack nd6-detail port %d\n"},
    /*  78 */ {0x08000000, 55, "\tdebug nivo ipstack ip6 port %d\n"},
    /*  79 */ {0x10000000, 55, "\tdebug nivo ipstack ip6-detail port %d\n"},
    /*  80 */ {0x20000000, 55, "\tdebug nivo ipstack icmp6 port %d\n"},
    /*  81 */ {0x40000000, 55, "\tdebug nivo ipstack icmp6-detail port %d\n"},
    /*  82 */ {0x00040000, 77, "\tdebug nivo fcip fta-flow port %d\n"},
    /*  83 */ {0x00100000, 77, "\tdebug nivo fcip fta-err port %d\n"},
    /*  84 */ {0x00200000, 77, "\tdebug nivo fcip fta-pkt port %d\n"},
    /*  85 */ {0x00080000, 77, "\tdebug nivo fcip fta-event port %d\n"},
    /*  86 */ {0x00400000, 77, "\tdebug nivo fcip fta-fsm port %d\n"},
    /*  87 */ {0x00800000, 55, "\tdebug nivo ipstack if-detail port %d\n"},
    /*  88 */ {0x00000020, 80, "\tdebug nivo crypto ipsec-detail port %d\n"},
    /*  89 */ {0x00800000, 77, "\tdebug nivo fcip xrce-update port %d\n"},
    /*  90 */ {0x01000000, 77, "\tdebug nivo fcip xrce-session port %d\n"},
    /*  91 */ {0x02000000, 77, "\t debug nivo fcip xrce-memcap port %d\n"},
    /*  92 */
    {0x00100000, 83, "\tdebug pemra i-t-nexus fenk %d init_fcid %x targ_fcid %x dpp %d\n"},
    /*  93 */ {0x00010000, 83, "\tdebug pemra adap i-t-nexus dpp %d\n"},
    /*  94 */ {0x00040000, 83, "\tdebug pemra adap i-t-nexus-fsm dpp %d\n"},
    /*  95 */ {0x00020000, 83, "\tdebug pemra adap qit-hash dpp %d\n"},
    /*  96 */ {0x00080000, 83, "\tdebug pemra adap xipc-flow dpp %d\n"},
    /*  97 */ {0x00200000, 83, "\tdebug pemra adap pkt-flow dpp %d\n"},
    /*  98 */ {0x00EF001C, 83, "\tdebug pemra adap all dpp %d\n"},
    /*  99 */
    {0x00400000, 83, "\tdebug pemra lrtp fenk %d init_fcid %x targ_fcid %x pkt-flow dpp %d\n"},
    /* 100 */
    {0x01000000, 83, "\tdebug pemra lrtp fenk %d init_fcid %x targ_fcid %x reass dpp %d\n"},
    /* 101 */
    {0x02000000, 83,
     "\tdebug pemra lrtp fenk %d init_fcid %x targ_fcid %x retransmission dpp %d\n"},
    /* 102 */ {0x00800000, 83, "\tdebug pemra lrtp fenk %d init_fcid %x targ_fcid %x ctl dpp %d\n"},
    /* 103 */ {0x00800000, 83, "\tdebug pemra lrtp vh set dpp %d\n"},
    /* 104 */ {0x00400000, 83, "\tdebug pemra lrtp pkt flow dpp %d\n"},
    /* 105 */ {0x00800000, 83, "\tdebug pemra lrtp reass dpp %d\n"},
    /* 106 */ {0x00800000, 83, "\tdebug pemra lrtp retx dpp %d\n"},
    /* 107 */ {0x00800000, 83, "\tdebug pemra lrtp append dpp %d\n"},
    /* 108 */ {0x00800000, 83, "\tdebug pemra lrtp all dpp %d\n"},
    /* 109 */ {0x04000000, 83, "\tdebug pemra comp fenk %d init %x targ %x pkt-flow dpp %d\n"},
    /* 110 */ {0x08000000, 83, "\tdebug pemra comp fenk %d init %x targ %x err dpp %d\n"},
    /* 111 */ {0x00000020, 83, "\tdebug pemra accel fenk %d init %x targ %x write-acc dpp %d\n"},
    /* 112 */ {0x00000020, 83, "\tdebug pemra accel fenk %d init %x targ %x write-acc dpp %d\n"},
    /* 113 */
    {0x00000040, 83, "\tdebug pemra accel fenk %d init %x targ %x write-acc-pkt dpp %d\n"},
    /* 114 */
    {0x00000080, 83, "\tdebug pemra accel fenk %d init %x targ %x write-acc-err dpp %d\n"},
    /* 115 */
    {0x00000100, 83, "\tdebug pemra accel fenk %d init %x targ %x write-acc-event dpp %d\n"},
    /* 116 */ {0x00000400, 83, "\tdebug pemra accel fenk %d init %x targ %x tape-acc dpp %d\n"},
    /* 117 */ {0x00000800, 83, "\tdebug pemra accel fenk %d init %x targ %x tape-acc-err dpp %d\n"},
    /* 118 */ {0x00001000, 83, "\tdebug pemra accel fenk %d init %x targ %x tape-acc-det dpp %d\n"},
    /* 119 */ {0x00002000, 83, "\tdebug pemra accel fenk %d init %x targ %x read-acc dpp %d\n"},
    /* 120 */ {0x00004000, 83, "\tdebug pemra accel fenk %d init %x targ %x read-acc-err dpp %d\n"},
    /* 121 */ {0x04000000, 77, "\tdebug nivo fcip ftra-flow port %d\n"},
    /* 122 */ {0x10000000, 77, "\tdebug nivo fcip ftra-err port %d\n"},
    /* 123 */ {0x08000000, 77, "\tdebug nivo fcip ftra-event port %d\n"},
    /* 124 */ {0x00000000, 0, nullptr},
    /* 125 */ {0x00000000, 0, nullptr},
};

std::uint32_t cmdMaskTableSize = kCmdMaskTableRows;

std::int32_t dravik_core_num_to_print(std::uint32_t port) {
  return static_cast<std::int32_t>(port + 1);
}

namespace {

// Every format is printed with the listing arguments (port, 0u, 0u, 0); no
// format may read an argument of another type or beyond the fourth.
constexpr bool all_formats_fit_listing_args() {
  for (const CmdMaskEntry& e : cmdMaskTable)
    if (e.format != nullptr && !listing_conversions_ok(e.format)) return false;
  return true;
}
static_assert(all_formats_fit_listing_args());

// Ids 1-123 are commands and carry a text; 124 and 125 are empty rows.
constexpr bool command_rows_complete() {
  for (std::int32_t id = 1; id < static_cast<std::int32_t>(kCmdMaskTableRows); ++id) {
    const CmdMaskEntry& e = cmdMaskTable[id];
    if (names_debug_command(id) != (e.format != nullptr && e.module != 0)) return false;
  }
  return true;
}
static_assert(command_rows_complete());

// The fenk formats are the rows of the commands that carry a fenk filter.
constexpr bool fenk_rows_match_filters() {
  for (std::int32_t id = 0; id < static_cast<std::int32_t>(kCmdMaskTableRows); ++id) {
    const char* f = cmdMaskTable[id].format;
    if ((f != nullptr && count_conversions(f) == 4) != wire::is_fenk_command(id)) return false;
  }
  return true;
}
static_assert(fenk_rows_match_filters());
static_assert(show_command == static_cast<std::int32_t>(kCmdMaskTableRows));

}  // namespace
