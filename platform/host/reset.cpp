#include "platform/host/reset.h"

#include "platform/host/env.h"
#include "platform/host/fail.h"

void host_env_reset() {
  host::corvan_reset();
  host::env_reset();
  host::fail_reset();
  host::dbgfac_reset();
  host::fs_reset();
  host::vesk_reset();
}
