// The card type: DRAVIK_CARD_ID stands for the card's own type register.
#include "platform/card.h"

#include "platform/host/env.h"

extern "C" int card_id_get(std::uint16_t* id) {
  *id = host::card_id();
  return 0;
}
