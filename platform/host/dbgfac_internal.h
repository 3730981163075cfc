// Test hook of the host debug facility.
#pragma once

namespace host {
// Forgets every facility's terminal list (files on disk stay).
void dbgfac_reset();
}  // namespace host
