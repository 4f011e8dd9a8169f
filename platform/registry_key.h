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

// Tells whether anything below a key changed, at any depth, since it was
// armed by WatchTree: a subkey made or deleted, a value set or deleted.
class TreeWatch {
 public:
  // True also when it cannot tell.
  [[nodiscard]] bool Changed() const;

 private:
  friend LSTATUS WatchTree(HKEY key, TreeWatch& watch);
#ifdef _WIN32
  UniqueHandle<HANDLE, &::CloseHandle> event_;
#endif
};

// Arms `watch` on `key`, again after a change. Fails where the store cannot
// watch the key; the substitute never can.
LSTATUS WatchTree(HKEY key, TreeWatch& watch);

}  // namespace platform
