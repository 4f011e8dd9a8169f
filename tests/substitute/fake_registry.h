// Test controls of the in-memory registry that stands in for the Windows
// one in native builds.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/win32_api.h"

namespace platform::fake {

// Empties every root and forgets refusals, open handles and counted calls.
void ResetRegistry();

enum class RegistryOperation { Open, Create, Delete, SetValue };

// From now on `operation` on the key `path` below `root` (any case, the key
// itself only) fails with ERROR_ACCESS_DENIED, as for a user without the
// right; with `valueName`, a SetValue refusal is of that value only.
void RefuseRegistry(RegistryOperation operation, HKEY root, std::string_view path,
                    std::optional<std::string_view> valueName = std::nullopt);

// The content of every root, to be put back many times over; restoring
// also forgets open handles.
class SavedRegistry;
std::shared_ptr<const SavedRegistry> SaveRegistry();
void RestoreRegistry(const SavedRegistry& saved);

// Handles handed out by open or create and not yet closed.
std::size_t OpenKeyCount();

// Registry calls made since the reset, each one request to the store on
// Windows, and the name of each in order ("RegOpenKeyA").
std::size_t RegistryCallCount();
std::vector<std::string_view> RegistryCallLog();

// The `nth` registry call from now (1 the next) fails with `error` and does
// nothing else; 0 disarms. Closing a key never fails.
void FailRegistryCall(std::size_t nth, LSTATUS error);

// True while a registry call is at work: what it allocates is the store's.
bool InsideRegistryCall();

}  // namespace platform::fake
