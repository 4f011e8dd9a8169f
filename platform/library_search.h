// Where the process takes code from. The program runs elevated from
// installers and when it writes machine-wide settings, so nothing that a user
// can write (the current directory, folders on PATH) may decide what runs
// inside it.
#pragma once

#include "platform/win32_api.h"

namespace platform {

// Keeps every later load by bare name, the system's own included, to the
// program's folder and the system folder, and takes the current directory
// out of the search. False where the system cannot keep to those folders
// (Windows 7 without its 2011 loader update, an old Wine): then libraries
// from outside Windows must not be loaded at all.
bool KeepLibrarySearchSafe();

// For a library loaded by its full path: its own imports are taken from its
// folder, the program's folder and the system folder, and from nowhere else.
inline constexpr DWORD kOwnFoldersOnly =
    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

}  // namespace platform
