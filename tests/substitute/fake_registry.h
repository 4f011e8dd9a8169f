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

// The full path of this user's hive, HKEY_CURRENT_USER, as a link names it
// in its SymbolicLinkValue.
inline constexpr const wchar_t* kCurrentUserKeyPath = L"\\Registry\\User\\S-1-5-21-0-0-0-1000";

// Empties every root and forgets refusals and open handles.
void ResetRegistry();

enum class RegistryOperation { Open, Create, Delete, SetValue };

// From now on `operation` on the key `path` below `root` fails with
// ERROR_ACCESS_DENIED, as it does for a user without the right. The path is
// matched case-insensitively, the key itself only (not its subkeys). With
// `valueName`, a SetValue refusal is of that value only, as a full store or
// a value in use refuses one write.
void RefuseRegistry(RegistryOperation operation, HKEY root, std::string_view path,
                    std::optional<std::string_view> valueName = std::nullopt);

// The whole content of every root, to be put back many times over: a test
// that makes a large tree once. Restoring also forgets open handles.
class SavedRegistry;
std::shared_ptr<const SavedRegistry> SaveRegistry();
void RestoreRegistry(const SavedRegistry& saved);

// Handles handed out by open or create and not yet closed.
std::size_t OpenKeyCount();

// Registry calls made since the last reset: each would be one request to the
// store on Windows.
std::size_t RegistryCallCount();

// The name of each of those calls, in order ("RegOpenKeyA").
std::vector<std::string_view> RegistryCallLog();

// The `nth` registry call from now (1 the next) fails with `error` and does
// nothing else; 0 disarms. Closing a key never fails.
void FailRegistryCall(std::size_t nth, LSTATUS error);

// True while a registry call is at work: what it allocates is the store's.
bool InsideRegistryCall();

}  // namespace platform::fake
