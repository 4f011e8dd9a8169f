// The test's side of the layer around the registry code's calls.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry_key.h"

namespace live {

// From now on counts the registry code's calls; before call `at` runs
// `change` (another party's), then fails that call with `failure` unless it
// is ERROR_SUCCESS.
void Arm(std::size_t at, std::function<void()> change, LSTATUS failure = ERROR_SUCCESS);
// Stops counting; the number of calls made since Arm.
std::size_t Disarm();
// Whether the armed change ran.
bool Changed();
// The calls counted since Arm, by name.
std::vector<const char*> Calls();
// From now on every write that would replace a value called `name` (ASCII)
// is refused, as access denied, until called again; "" refuses none.
void RefuseWrite(std::string name);
// How many writes were refused since RefuseWrite.
std::size_t Refusals();
// Whether the registry code may watch a tree for changes; when not, it
// has to see them key by key. Holds until changed.
void Watching(bool allowed);

}  // namespace live
