// Put ahead of the registry code in a build made only for the tests: each
// registry call it makes passes through the layer of live_registry.cpp,
// which can let another party change the registry, or fail the call, at
// the N-th of them. The calls themselves are Windows' own.
#pragma once

#include "live/live_registry_calls.h"

// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#define RegCreateKeyA LiveRegCreateKeyA
#define RegCreateKeyExA LiveRegCreateKeyExA
#define RegDeleteKeyA LiveRegDeleteKeyA
#define RegDeleteValueA LiveRegDeleteValueA
#define RegEnumKeyExW LiveRegEnumKeyExW
#define RegEnumValueW LiveRegEnumValueW
#define RegOpenKeyA LiveRegOpenKeyA
#define RegOpenKeyExA LiveRegOpenKeyExA
#define RegQueryInfoKeyA LiveRegQueryInfoKeyA
#define RegQueryValueA LiveRegQueryValueA
#define RegQueryValueExA LiveRegQueryValueExA
#define RegQueryValueExW LiveRegQueryValueExW
#define RegSetValueA LiveRegSetValueA
#define RegSetValueExA LiveRegSetValueExA
#define RegSetValueExW LiveRegSetValueExW
#define DeleteOpenKey LiveDeleteOpenKey
#define WatchTree LiveWatchTree
// NOLINTEND(cppcoreguidelines-macro-usage)
