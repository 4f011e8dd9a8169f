#pragma once

#include "platform/unique_handle.h"
#include "platform/win32_api.h"

namespace platform {

// An open registry key, closed when its owner goes.
using UniqueKey = UniqueHandle<HKEY, &::RegCloseKey>;

// Deletes the key that `key` holds open, a link opened as such too, without
// opening it again by a name: under WoW64 a name, even the empty one, may be
// redirected to a child called Wow6432Node. Fails while the key has subkeys.
LSTATUS DeleteOpenKey(HKEY key);

}  // namespace platform
