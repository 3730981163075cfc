// File-system calls on card paths, placed below DRAVIK_FS_ROOT.
#include "platform/fs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host/env.h"
#include "platform/host/fail.h"
#include "platform/host/fs_map.h"
#include "platform/host/reset.h"

namespace host {
namespace {

bool g_card_dirs_made = false;

// A card has /cpp/ and /var/log/external/ from the start; the host makes them
// below the root before the first call that may need them.
void make_card_dirs() {
  if (g_card_dirs_made) return;
  const char* root = fs_root();
  if (root == nullptr) return;
  PathBuf cpp, external;
  cpp.add(root).add("/cpp");
  external.add(root).add("/var/log/external");
  if (cpp.ok() && external.ok() && make_dirs(cpp.view()) && make_dirs(external.view()))
    g_card_dirs_made = true;
}

// The path a call works on: the host path of a card path, the path itself
// otherwise; nullptr (errno set) for a refused card path.
const char* host_path(const char* path, PathBuf* buf) {
  if (path == nullptr) {
    errno = EFAULT;
    return nullptr;
  }
  switch (map_card_path(path, buf)) {
    case FsMap::unchanged:
      return path;
    case FsMap::mapped:
      make_card_dirs();
      return buf->c_str();
    case FsMap::refused:
      break;
  }
  return nullptr;
}

}  // namespace

void fs_reset() { g_card_dirs_made = false; }

}  // namespace host

extern "C" int fs_stat(const char* path, struct stat* st) {
  if (host::fail_now(host::FailOp::fs_stat)) return -1;
  host::PathBuf buf;
  const char* p = host::host_path(path, &buf);
  return p != nullptr ? stat(p, st) : -1;
}

extern "C" int fs_mkdir(const char* path, mode_t mode) {
  if (host::fail_now(host::FailOp::fs_mkdir)) return -1;
  host::PathBuf buf;
  const char* p = host::host_path(path, &buf);
  return p != nullptr ? mkdir(p, mode) : -1;
}

// DRAVIK_FAIL's fs_fopen entry fails this open: it is how card files are
// opened for writing.
extern "C" int fs_open(const char* path, int flags, mode_t mode) {
  if (host::fail_now(host::FailOp::fs_fopen)) return -1;
  host::PathBuf buf;
  const char* p = host::host_path(path, &buf);
  return p != nullptr ? open(p, flags, mode) : -1;
}

extern "C" int fs_unlink(const char* path) {
  host::PathBuf buf;
  const char* p = host::host_path(path, &buf);
  return p != nullptr ? unlink(p) : -1;
}

extern "C" int fs_symlink(const char* target, const char* linkpath) {
  if (host::fail_now(host::FailOp::fs_symlink)) return -1;
  // The target is a card path too: the link must lead to where the host
  // placed it. A relative target is left as given.
  host::PathBuf target_buf, link_buf;
  const char* t = host::host_path(target, &target_buf);
  if (t == nullptr) return -1;
  const char* l = host::host_path(linkpath, &link_buf);
  return l != nullptr ? symlink(t, l) : -1;
}
