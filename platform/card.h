// The card-type query.
#pragma once

#include <cstdint>

extern "C" {
// Stores this card's type code in *id; 0 on success.
int card_id_get(std::uint16_t* id);
}
