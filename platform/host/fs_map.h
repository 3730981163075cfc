// Placing the card's directories on a host: card path P under "/cpp" or
// "/var/log/external" is the host path $DRAVIK_FS_ROOT + P.
#pragma once

#include "platform/host/path_buf.h"

namespace host {

enum class FsMap {
  unchanged,  // not a card directory: use the path as given
  mapped,     // *out holds the host path
  refused,    // leaves the root once ".." is resolved, or too long: errno set
};

// Maps path; the result is resolved lexically (no "." or ".." components, no
// doubled separators; a trailing separator is kept). errno EACCES for a path
// that would leave the root, ENAMETOOLONG for one that does not fit.
FsMap map_card_path(const char* path, PathBuf* out);

}  // namespace host
