// The hotkey service's library Orvisk.dll. It is loaded by name on the first
// call of one of its exports, never at program start, so that a missing
// library or export fails only the call that needs it: that call throws
// ServiceLibraryError.
#pragma once

#include "platform/error.h"
#include "platform/win32_api.h"

namespace platform {

class ServiceLibraryError : public Error {
 public:
  using Error::Error;
};

// The hotkey service's window, or 0 when no service runs.
HWND GetVorkelHandle();
// Records the dialog's window for a later instance.
void RegFenwarel(HWND dialog);
// The dialog window last recorded; it may be stale.
HWND GetFenwarel();

}  // namespace platform
