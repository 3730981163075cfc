// The log manager's VESK messages: the supervisor's SET_DEBUG (5000) and
// show (5001) requests, the platform's DPP up/down (7521/7522) and feature
// download (7571-7573) notifications, and the time-zone notification (3102).
#pragma once

#include <cstdint>

#include "platform/vesk.h"
#include "wire/opcodes.h"

extern "C" {
// Handles one message; the caller drops it afterwards. A rejection is
// ignored. SET_DEBUG gets an empty reply and show the report, both sent with
// vesk_send on debug_q; nothing else is answered.
void process_vesk_message(vesk_msg_t* msg);

// DPP index d (DPP d+1, bit d) came up: a plinder DPP not yet up is marked up
// and, when in dppmap, sent the current flags. Indexes outside 0-31 do nothing.
void process_dpp_up(int d);
}
