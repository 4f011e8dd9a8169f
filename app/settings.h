// Where the hotkey service keeps its settings and how the dialog talks to it.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"
#include "registry/tagged_value.h"

namespace app {

// "StickyKey": a REG_DWORD of flags. Two bits are the dialog's; every other
// bit belongs to the hotkey service and is kept on every save.
inline constexpr const char* kStickyKey = "StickyKey";
inline constexpr std::uint32_t kStandbyMessage = 0x40;    // confirm before standby (Fn+F3)
inline constexpr std::uint32_t kHibernateMessage = 0x80;  // confirm before hibernation (Fn+F4)
inline constexpr std::int16_t kStickyKeyDefault = 192;    // both confirmations on

// Administrators share the machine's settings; a limited user has his own.
struct SettingsLocation {
  const char* root;
  const char* key;
};
inline constexpr SettingsLocation kMachineSettings{"HKLM",
                                                   "SYSTEM\\CurrentControlSet\\Services\\Vorkel"};
inline constexpr SettingsLocation kUserSettings{"HKCU", "Software\\Zelmoor\\Vorkel"};
inline constexpr const SettingsLocation& SettingsFor(registry::Boolean limitedUser) {
  return limitedUser != registry::kFalse ? kUserSettings : kMachineSettings;
}

// The installer's marker: the default value of this key under HKLM, "1" or "".
inline constexpr const char* kInstalledMarkerKey = "Software\\Zelmoor\\Hotkey";
// A user who may create this key under HKCU is no limited user.
inline constexpr const char* kPolicyProbeKey = "Software\\Policies\\Zelmoor Tessaline";

// Messages to the hotkey service's window.
inline constexpr UINT kNotifySettingsChanged = WM_USER + 1001;  // 2025, sent after saving
inline constexpr WPARAM kSettingsChangedW = 257;
inline constexpr LPARAM kSettingsChangedL = 1;
inline constexpr UINT kNotifyInstallChanged = WM_USER + 1002;  // 2026, posted by -i and -u
inline constexpr WPARAM kInstallChangedW = 100;
inline constexpr LPARAM kInstallChangedL = 0;

// The number in a stored value: an integer unchanged, or a text holding a
// decimal integer within 32 bits (optional sign, optional surrounding
// spaces). Anything else throws registry::ConversionError.
std::int32_t NumberOf(const registry::TaggedValue& value);

}  // namespace app
