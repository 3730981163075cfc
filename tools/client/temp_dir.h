// A fresh, private directory under /tmp that is removed with everything in it
// when its holder goes away: the platform directory of one test's daemon.
#pragma once

#include <string>

namespace client {

struct TempDir {
  std::string path;  // empty when it could not be created

  // mkdtemp("/tmp/<prefix>XXXXXX"), mode 0700. Short on purpose: socket paths
  // below it must fit sun_path. Throws std::runtime_error when it fails.
  explicit TempDir(const std::string& prefix = "dravik-");
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
};

// Removes path and everything below it; errors are ignored.
void remove_tree(const std::string& path);

}  // namespace client
