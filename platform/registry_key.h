#pragma once

#include "platform/unique_handle.h"
#include "platform/win32_api.h"

namespace platform {

// An open registry key, closed when its owner goes.
using UniqueKey = UniqueHandle<HKEY, &::RegCloseKey>;

}  // namespace platform
