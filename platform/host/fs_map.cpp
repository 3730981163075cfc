#include "platform/host/fs_map.h"

#include <cerrno>
#include <string_view>

#include "platform/host/env.h"

namespace host {
namespace {

constexpr std::string_view kCardDirs[] = {"/cpp", "/var/log/external"};

bool is_card_path(std::string_view p) {
  for (std::string_view dir : kCardDirs)
    if (p.starts_with(dir) && (p.size() == dir.size() || p[dir.size()] == '/')) return true;
  return false;
}

}  // namespace

FsMap map_card_path(const char* path, PathBuf* out) {
  std::string_view p(path);
  if (!is_card_path(p)) return FsMap::unchanged;
  const char* root = fs_root();
  if (root == nullptr) return FsMap::refused;

  // Resolve the components lexically; a ".." with nothing left to undo would
  // climb above the root and is refused whatever follows it.
  constexpr std::size_t kMaxDepth = PATH_MAX / 2;
  static std::string_view parts[kMaxDepth];
  std::size_t depth = 0;
  for (std::size_t i = 0; i < p.size();) {
    std::size_t end = p.find('/', i);
    if (end == std::string_view::npos) end = p.size();
    std::string_view part = p.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (depth == 0) {
        errno = EACCES;
        return FsMap::refused;
      }
      --depth;
      continue;
    }
    if (depth == kMaxDepth) {
      errno = ENAMETOOLONG;
      return FsMap::refused;
    }
    parts[depth++] = part;
  }
  *out = PathBuf{};
  out->add(root);
  for (std::size_t k = 0; k < depth; ++k) out->add("/").add(parts[k]);
  if (p.ends_with('/') && depth > 0) out->add("/");
  if (!out->ok()) {
    errno = ENAMETOOLONG;
    return FsMap::refused;
  }
  return FsMap::mapped;
}

}  // namespace host
