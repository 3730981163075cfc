// The flag update to a DPP core: switches one module's debug bits on a port
// on or off, optionally limited to one initiator-target pair.
#pragma once

#include <cstdint>

#include "wire/debug_request.h"
#include "wire/flag_update_msg.h"

// Sends one 616-byte FlagUpdateMsg (op, mask, module, and the filter of
// `request` when one is given) on the XIPC socket `sd` to core `port`, module
// 39, opcode 88, length 616. op is 1 (on) or 2 (off); request may be null (no
// filter). 0 when sent; -1 when the send failed (reported on standard
// output). Nothing is retried.
//
// The address's core field is 16 bits wide; ports come from a request's one
// byte (or from map rows stored from it), so they always fit.
int updateDebugFlagOnSibyte(std::uint32_t mask, std::uint32_t module, std::uint32_t port,
                            std::uint32_t op, const wire::DebugRequest* request);

// Sets msg's sess_type and filter from the request's command id:
//   25, 33 with both names non-empty: sess_type 1 and the two 256-byte names;
//   a fenk command: sess_type 2, type wire::fenk_filter_type(id), fenk, init_fcid
//   and targ_fcid (type 2 also prints a diagnostic line);
//   any other id (negative ids included): sess_type 0, no filter.
void getParameterFromRequest(const wire::DebugRequest& request, wire::FlagUpdateMsg& msg);
