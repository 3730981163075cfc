// The host VESK's record of the SAPs this process has bound, shared by the
// transport (vesk.cpp) and the option words (vesk_options.cpp).
//
// A handle is the descriptor of the SAP's socket, so the table is indexed by
// descriptor; descriptors past its end are refused at bind time.
#pragma once

namespace host {

constexpr int kMaxVeskHandles = 1024;

struct SapSlot {
  bool bound = false;
  int sap = 0;
  int last_errno = 0;  // what vesk_errno_get reports
};

// The slot of a bound SAP of this process, or nullptr.
SapSlot* sap_slot(int handle);

// Records a failure of an operation on `handle` for vesk_errno_get.
void sap_note_errno(int handle, int err);

// Removes every registration file of handle (bound at sap) and forgets its
// option words. Called by vesk_unbind.
void vesk_options_release(int handle, int sap);

// Test hook: forgets every SAP and option word (closes nothing).
void vesk_reset();
void vesk_options_reset();

}  // namespace host
