// Test hook of the host card directories.
#pragma once

namespace host {
// The next call on a card path creates the card's directories again.
void fs_reset();
}  // namespace host
