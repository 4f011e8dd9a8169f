// Test controls of the in-memory registry that stands in for the Windows
// one in native builds.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/win32_api.h"

namespace platform::fake {

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

// Handles handed out by open or create and not yet closed.
std::size_t OpenKeyCount();

// Registry calls made since the last reset: each would be one request to the
// store on Windows.
std::size_t RegistryCallCount();

}  // namespace platform::fake
