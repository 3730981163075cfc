// The card type: DRAVIK_CARD_ID stands for the card's own type register.
#include "platform/card.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/host/env.h"
#include "platform/host/layout.h"

extern "C" int card_id_get(std::uint16_t* id) {
  *id = host::card_id();
  return 0;
}

namespace host {

void record_card() {
  PathBuf path = platform_path(layout::kCardRecord);
  PathBuf tmp = path;
  tmp.add(".new");
  if (!tmp.ok()) return;
  char line[32];
  const std::uint16_t id = card_id();
  const int n = std::snprintf(line, sizeof line, "%u %d\n", unsigned{id}, card_dpp_count(id));
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0) return;
  const bool ok = n > 0 && write(fd, line, static_cast<std::size_t>(n)) == n;
  close(fd);
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) unlink(tmp.c_str());
}

}  // namespace host
