// The terminal subscription map: which terminal (VTY) asked for which debug
// bits of which module on which port.
//
// A row is free when its `module` and `mask` are both 0; of a free row no
// other field means anything. An in-use row's key is (module, port, vty); the
// operations keep at most one in-use row per key. The map owns `vtyfd` of
// every in-use row: storeInMap opens it, freeEntry and stopDebugMsgFlow close
// it. Nothing writes through it; opening it only decides whether a
// subscription is stored.
//
// All functions run on the daemon's one thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kVtyMapRows = 100;
constexpr std::size_t kVtyPathSize = 100;  // vty holds at most 99 characters

struct VTYmapElement {
  std::uint32_t module;    // module code (0 in a free row)
  std::uint32_t mask;      // subscribed bits (0 in a free row)
  char vty[kVtyPathSize];  // terminal path, always NUL-terminated
  std::int32_t vtyfd;      // the terminal's write handle
  std::uint32_t port;      // zero-based port (DPP core)
};

extern VTYmapElement cmdVTYmap[kVtyMapRows];

// Marks every row free (module and mask 0). Closes nothing: it runs at
// start-up, before any row holds a handle.
void initCmdVTYmap();

// Adds mask to the row of (module, port, term). An existing row gains the bits
// and 0 is returned; nothing is opened. Otherwise term is opened for writing
// (append, never created, never blocking, never the controlling terminal) and
// stored in the highest free row. -1, with the map unchanged, when term is too
// long for a row, mask and module are both 0, term cannot be opened, or no row
// is free; each but the empty mask is reported on standard output.
int storeInMap(std::uint32_t mask, std::uint32_t module, const char* term, std::uint32_t port);

// Removes mask from the first in-use row of (module, port, term); a row left
// without bits becomes free and its handle is closed. No row: nothing happens.
void freeEntry(std::uint32_t mask, std::uint32_t module, const char* term, std::uint32_t port);

// The bits of mask that the last (highest-index) in-use row of (module, port)
// does not hold; all of mask when there is no such row. Only that last row
// decides, even when an earlier row of another terminal holds the bits.
std::uint32_t notRegisteredMask(std::uint32_t mask, std::uint32_t module, std::uint32_t port);

// Releases every in-use row in index order, closing its handle, and sends the
// DPP an off-update (op 2, no filter) for the row's bits that
// notRegisteredMask finds unheld once the row is freed.
void stopDebugMsgFlow();

// Prints every in-use row to standard output, mask as a signed decimal.
void printMap();
