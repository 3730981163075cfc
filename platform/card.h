// The card-type query.
#pragma once

#include <cstdint>

extern "C" {
// Stores this card's type code in *id; 0 on success.
int card_id_get(std::uint16_t* id);
}

// The number of DPPs a card type has: one on card types 41, 42, 43 and 163,
// four on every other.
constexpr int card_dpp_count(std::uint16_t id) {
  return id == 41 || id == 42 || id == 43 || id == 163 ? 1 : 4;
}
