#include "platform/host/env.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host/layout.h"

namespace host {
namespace {

constexpr std::uint16_t kDefaultCardId = 40;
constexpr mode_t kDirMode = 0750;
constexpr mode_t kSocketMode = 0660;

struct EnvState {
  bool dir_loaded = false;
  int dir_errno = 0;  // 0: dir usable
  PathBuf dir;
  bool root_loaded = false;
  PathBuf root;
  bool card_loaded = false;
  std::uint16_t card = kDefaultCardId;
};

EnvState g_env;

// Creates one directory with exactly kDirMode (the umask would narrow it). An
// existing directory is left as it is: it may be shared with another user's
// setup on purpose.
bool make_dir(const char* path) {
  if (mkdir(path, kDirMode) == 0) return chmod(path, kDirMode) == 0;
  if (errno != EEXIST) return false;
  struct stat st;
  if (stat(path, &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

}  // namespace

bool make_dirs(std::string_view p) {
  PathBuf part;
  for (std::size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '/') {
      part = PathBuf{};
      part.add(p.substr(0, i));
      if (!part.ok()) return false;
      if (!make_dir(part.c_str())) return false;
    }
  }
  return true;
}

namespace {

void load_dir() {
  g_env.dir_loaded = true;
  g_env.dir = PathBuf{};
  const char* v = std::getenv(layout::kPlatformDirEnv);
  std::string_view d =
      (v != nullptr && *v != '\0') ? std::string_view(v) : layout::kDefaultPlatformDir;
  while (d.size() > 1 && d.back() == '/') d.remove_suffix(1);
  g_env.dir.add(d);
  if (!g_env.dir.ok()) {
    g_env.dir_errno = ENAMETOOLONG;
    return;
  }
  if (!make_dirs(g_env.dir.view())) {
    g_env.dir_errno = errno;
    return;
  }
  for (std::string_view sub : layout::kSubfolders) {
    PathBuf p = g_env.dir;
    p.add("/").add(sub);
    if (!p.ok() || !make_dir(p.c_str())) {
      g_env.dir_errno = p.ok() ? errno : ENAMETOOLONG;
      return;
    }
  }
  g_env.dir_errno = 0;
}

// Called once per load, in the daemon's normal flow (its first platform call
// is the VESK bind), never first from a signal handler.
void report_unusable_dir() {
  std::fprintf(stderr, "dravik platform: cannot use DRAVIK_PLATFORM_DIR \"%s\": %s\n",
               g_env.dir.c_str(), std::strerror(g_env.dir_errno));
}

// Decimal 0-65535 and nothing else.
bool parse_card_id(const char* v, std::uint16_t* out) {
  std::uint32_t n = 0;
  std::size_t len = 0;
  for (; v[len] != '\0'; ++len) {
    if (v[len] < '0' || v[len] > '9' || len >= 5) return false;
    n = n * 10 + static_cast<std::uint32_t>(v[len] - '0');
  }
  if (len == 0 || n > 65535) return false;
  *out = static_cast<std::uint16_t>(n);
  return true;
}

}  // namespace

const char* platform_dir() {
  if (!g_env.dir_loaded) {
    load_dir();
    if (g_env.dir_errno != 0) report_unusable_dir();
  }
  if (g_env.dir_errno != 0) {
    errno = g_env.dir_errno;
    return nullptr;
  }
  return g_env.dir.c_str();
}

PathBuf platform_path(std::string_view sub) {
  PathBuf p;
  const char* d = platform_dir();
  if (d == nullptr) {
    p.fits = false;
    return p;
  }
  p.add(d).add("/").add(sub);
  if (!p.ok()) errno = ENAMETOOLONG;
  return p;
}

bool socket_addr(std::string_view sub, std::string_view name, sockaddr_un* addr, socklen_t* len) {
  PathBuf p = platform_path(sub);
  if (!p.ok()) return false;
  p.add("/").add(name);
  if (!p.ok() || p.n >= sizeof addr->sun_path) {
    std::fprintf(stderr,
                 "dravik platform: socket path \"%s%s\" is longer than the %zu "
                 "bytes a socket address holds; use a shorter "
                 "DRAVIK_PLATFORM_DIR\n",
                 p.c_str(), p.ok() ? "" : "...", sizeof addr->sun_path - 1);
    errno = ENAMETOOLONG;
    return false;
  }
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, p.c_str(), p.n + 1);
  *len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + p.n + 1);
  return true;
}

int set_socket_mode(const char* path) { return chmod(path, kSocketMode); }

std::uint16_t card_id() {
  if (!g_env.card_loaded) {
    g_env.card_loaded = true;
    g_env.card = kDefaultCardId;
    const char* v = std::getenv(layout::kCardIdEnv);
    if (v != nullptr && !parse_card_id(v, &g_env.card)) {
      g_env.card = kDefaultCardId;
      std::fprintf(stderr,
                   "dravik platform: DRAVIK_CARD_ID \"%s\" is not a card type "
                   "(decimal 0-65535); using %u\n",
                   v, unsigned{kDefaultCardId});
    }
  }
  return g_env.card;
}

const char* fs_root() {
  if (!g_env.root_loaded) {
    g_env.root_loaded = true;
    g_env.root = PathBuf{};
    const char* v = std::getenv(layout::kFsRootEnv);
    if (v != nullptr && *v != '\0') {
      std::string_view r(v);
      while (r.size() > 1 && r.back() == '/') r.remove_suffix(1);
      g_env.root.add(r);
    } else {
      g_env.root = platform_path(layout::kDefaultFsRoot);
    }
    // A symbolic link's target is resolved from the link's own directory, so
    // a root given relative to the working directory would leave every link
    // under /var/log/external/ dangling: the root is made absolute once, here.
    if (g_env.root.ok() && g_env.root.n > 0 && g_env.root.s[0] != '/') {
      char cwd[PATH_MAX];
      if (getcwd(cwd, sizeof cwd) != nullptr) {
        PathBuf absolute;
        absolute.add(cwd);
        if (absolute.n > 1) absolute.add("/");
        absolute.add(g_env.root.view());
        g_env.root = absolute;
      }
    }
  }
  if (!g_env.root.ok()) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  return g_env.root.c_str();
}

void env_reset() { g_env = EnvState{}; }

}  // namespace host
