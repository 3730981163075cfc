// The host platform's environment: where its sockets, logs and card
// directories live, and which card type it reports.
//
// Every value is read from the environment on first use, so a test can set
// the variables before its first platform call (and host_env_reset() makes the
// next call read them again). No function here uses the heap or stdio except
// to report an unusable value on standard error.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdint>
#include <string_view>

#include "platform/host/path_buf.h"

namespace host {

// DRAVIK_PLATFORM_DIR (default /tmp/dravik), created with its subfolders
// vesk/, vesk/reg/, corvan/, dbgfac/ and xipc/ (mode 0750) on the first call.
// nullptr, with errno set, when the directory cannot be created.
const char* platform_dir();

// $DRAVIK_PLATFORM_DIR/<sub>; not ok when the platform directory is unusable.
PathBuf platform_path(std::string_view sub);

// Fills *addr with the socket path $DRAVIK_PLATFORM_DIR/<sub>/<name>. False,
// with errno ENAMETOOLONG and a message on standard error, when the path does
// not fit sun_path; false with errno when the directory is unusable.
bool socket_addr(std::string_view sub, std::string_view name, sockaddr_un* addr, socklen_t* len);

// Creates every missing directory of path (mode 0750), as mkdir -p.
bool make_dirs(std::string_view path);

// Gives a bound socket file the platform's socket mode, 0660.
int set_socket_mode(const char* path);

// DRAVIK_CARD_ID, 0-65535; 40 when unset or unusable (reported on stderr).
std::uint16_t card_id();

// Records the card type in $DRAVIK_PLATFORM_DIR/card as the one line
// "<card id> <DPP count>\n", replaced whole (written aside, then renamed), so
// that the tools know the card of the daemon that owns the directory.
void record_card();

// DRAVIK_FS_ROOT, or $DRAVIK_PLATFORM_DIR/fs when unset or empty; a relative
// root is taken from the working directory at the first call and kept absolute.
const char* fs_root();

// Forgets the values read (next call reads the environment again).
void env_reset();

}  // namespace host
