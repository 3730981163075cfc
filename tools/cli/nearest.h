// The nearest of a set of words to a word an operator mistyped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tools {

// Restricted Damerau-Levenshtein distance (a swap of two neighbours costs 1).
std::size_t word_distance(std::string_view a, std::string_view b);

// The candidate nearest to w, or "" when none is near enough to be a
// plausible typo (more than a third of the longer word changed) or when w
// starts none of them: "debg" gives "debug", "xyz" nothing.
std::string nearest_word(std::string_view w, const std::vector<std::string>& candidates);

// "unknown <what> 'w'; did you mean 'x'?" or "unknown <what> 'w'; one of: a, b, c".
std::string unknown_word(std::string_view what, std::string_view w,
                         const std::vector<std::string>& candidates);

}  // namespace tools
