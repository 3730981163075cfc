#include "tools/client/temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace client {

TempDir::TempDir(const std::string& prefix) {
  std::string tmpl = "/tmp/" + prefix + "XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data()))
    throw std::runtime_error("mkdtemp " + tmpl + ": " + std::strerror(errno));
  path = buf.data();
}

TempDir::~TempDir() {
  if (!path.empty()) remove_tree(path);
}

void remove_tree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace client
