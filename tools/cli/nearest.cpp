#include "tools/cli/nearest.h"

#include <algorithm>

namespace tools {

std::size_t word_distance(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[n][m];
}

std::string nearest_word(std::string_view w, const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t best_d = 0;
  for (const std::string& c : candidates) {
    std::size_t d = word_distance(w, c);
    if (best.empty() || d < best_d) {
      best = c;
      best_d = d;
    }
  }
  if (best.empty()) return best;
  const std::size_t longer = std::max(w.size(), best.size());
  if (best.starts_with(w) || 3 * best_d <= longer) return best;
  return {};
}

std::string unknown_word(std::string_view what, std::string_view w,
                         const std::vector<std::string>& candidates) {
  std::string s = "unknown " + std::string(what) + " '" + std::string(w) + "'";
  std::string near = nearest_word(w, candidates);
  if (!near.empty()) return s + "; did you mean '" + near + "'?";
  s += "; one of:";
  for (std::size_t i = 0; i < candidates.size(); ++i) s += (i ? ", " : " ") + candidates[i];
  return s;
}

}  // namespace tools
