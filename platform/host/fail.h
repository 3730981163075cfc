// Failing on purpose: DRAVIK_FAIL names platform operations that fail as they
// could on a card, so every failure path of the daemon can be driven from
// outside.
//
// DRAVIK_FAIL is a comma-separated list of entries `op`, `op@N`,
// `vesk_options_set:<opcode>` or `vesk_options_set:<opcode>@N`. Without @N
// every call of the operation fails; with it only the N-th call (counted from
// 1 since the process started, or since host_env_reset) fails. An entry with
// an opcode counts and fails only the calls for that opcode. An entry not
// understood is reported on standard error and ignored.
#pragma once

#include <cstdint>

namespace host {

enum class FailOp {
  vesk_bind,
  vesk_recv,
  vesk_send,
  vesk_options_set,
  dbgfac_init,
  xipc_socket,
  xipc_bind,
  xipc_sendto,
  xipc_recvfrom,
  fs_stat,
  fs_mkdir,
  fs_fopen,
  fs_symlink,
};

// Counts one call of `op` (with `opcode`, for vesk_options_set) and says
// whether it is to fail. When it is, errno is set to the failure's error
// number: EACCES for fs_stat, EIO for every other operation.
bool fail_now(FailOp op, std::uint32_t opcode = 0);

// Forgets the list and the call counts; the next call reads DRAVIK_FAIL again.
void fail_reset();

}  // namespace host
