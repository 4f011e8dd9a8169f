#include "platform/library_search.h"

namespace platform {

bool KeepLibrarySearchSafe() {
  // The current directory out of the search in any case; a system that
  // honours the default below does not search it anyway.
  SetDllDirectoryW(L"");
  // Looked up, not imported: without the loader update the program must
  // still start, and the dialog work without the service library. Where the
  // function exists, so do the LoadLibraryEx flags that kOwnFoldersOnly uses.
  using SetDefault = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC set = kernel == nullptr ? nullptr : GetProcAddress(kernel, "SetDefaultDllDirectories");
  return set != nullptr && reinterpret_cast<SetDefault>(reinterpret_cast<void*>(set))(
                               LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != 0;
}

}  // namespace platform
