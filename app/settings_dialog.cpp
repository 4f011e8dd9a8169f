#include "app/settings_dialog.h"

#include <array>

#include "app/command_line.h"
#include "app/resource.h"
#include "app/settings.h"
#include "localization/dialog_localization.h"
#include "localization/translation.h"
#include "platform/guarded.h"
#include "platform/service_library.h"
#include "platform/startup_trace.h"
#include "registry/registry.h"

namespace app {
namespace {

using platform::Guarded;
using registry::kFalse;
using registry::kTrue;
using registry::Registry;
using registry::TaggedValue;

// Twips, relative to the client area; listed in tab order.
constexpr std::array<platform::ControlLayout, 4> kControls{{
    {ZFenwarel::OK, platform::ControlKind::PushButton, "OK", 1560, 3840, 1215, 375},
    {ZFenwarel::Cancel, platform::ControlKind::PushButton, "Cancel", 3000, 3840, 1215, 375},
    {ZFenwarel::chkStandbyMsg, platform::ControlKind::CheckBox,
     "Display a Standby confirmation message if Fn+F3 is pushed.", 360, 600, 3735, 615},
    {ZFenwarel::chkHiberMsg, platform::ControlKind::CheckBox,
     "Display a Hibernation confirmation message if Fn+F4 is pushed.", 360, 1440, 3735, 615},
}};

constexpr std::array<int, 2> kCheckBoxes{ZFenwarel::chkStandbyMsg, ZFenwarel::chkHiberMsg};
constexpr std::array<int, 4> kAllControls{ZFenwarel::OK, ZFenwarel::Cancel,
                                          ZFenwarel::chkStandbyMsg, ZFenwarel::chkHiberMsg};

constexpr platform::FormLayout kLayout{ZFenwarel::kClassName, "ZELMOOR Hotkey", 4380, 4380,
                                       IDI_FENWAREL,          kControls};

// How long an uninstall waits for the running dialog to be gone.
constexpr DWORD kCloseWait = 5000;  // milliseconds

// The name of the mutex that marks a running instance in this session.
constexpr const char* kInstanceName = "Local\\Zelmoor.Fenwarel.Settings";

}  // namespace

ZFenwarel::ZFenwarel() : form_(kLayout, *this), instance_(kInstanceName) {}

HWND ZFenwarel::OtherDialog(HWND candidate) const {
  bool ours = candidate != form_.Handle() && platform::IsFormWindow(candidate, kClassName);
  return ours ? candidate : nullptr;
}

void ZFenwarel::Load(std::string_view arguments) {
  HWND service = nullptr;
  Guarded([&] { service = platform::GetVorkelHandle(); });
  platform::TraceMark("service-library");
  const StartMode mode = ModeOf(arguments);
  if (mode == StartMode::Uninstall || mode == StartMode::Install) {
    Guarded([&] { UpdateInstalledMarker(mode == StartMode::Install); });
    platform::TraceMark("marker");
    if (service != nullptr) {
      Guarded([&] {
        PostMessageA(service, kNotifyInstallChanged, kInstallChangedW, kInstallChangedL);
      });
    }
  }
  if (mode == StartMode::Uninstall) {
    bool another = false;
    Guarded([&] { another = instance_.AnotherInstanceRunning(); });
    if (another) {
      // The other instance's dialog closes without saving.
      Guarded([&] {
        if (HWND other = OtherDialog(platform::GetFenwarel())) {
          platform::CloseOtherDialog(other, kCloseWait);
        }
      });
    }
  }
  if (mode != StartMode::Normal) {
    Guarded([&] { form_.Close(); });
    platform::TraceMark("closed");
    return;
  }

  bool another = false;
  Guarded([&] { another = instance_.AnotherInstanceRunning(); });
  platform::TraceMark("mutex");
  if (another) {
    HWND other = nullptr;
    Guarded([&] { other = OtherDialog(platform::GetFenwarel()); });
    if (other != nullptr) {
      Guarded([&] { ShowWindow(other, SW_RESTORE); });
      Guarded([&] { SetForegroundWindow(other); });
    }
    Guarded([&] { form_.Close(); });
    return;
  }

  if (!form_.IsOpen()) {
    return;  // no window could be made: nothing to show, nothing to register
  }
  Guarded([&] { localization::LocalizeLayout(form_, kCheckBoxes, kAllControls); });
  Guarded([&] { ApplyCaptions(); });
  platform::TraceMark("localized");
  Guarded([&] { ProbeLimitedUser(); });
  platform::TraceMark("probe");
  Guarded([&] { platform::RegFenwarel(form_.Handle()); });
  platform::TraceMark("registered");
  Guarded([&] { LoadSettings(); });
  platform::TraceMark("settings");
  Guarded([&] { form_.Show(); });
  platform::TraceMark("shown");
}

void ZFenwarel::UpdateInstalledMarker(bool installed) {
  Registry marker;
  Guarded([&] { marker.RootKeyName("HKLM"); });
  // Install creates the key; uninstall only opens it and leaves no key behind.
  registry::Boolean opened = kFalse;
  Guarded([&] {
    opened =
        installed ? marker.CreateKey(kInstalledMarkerKey) : marker.OpenKey(kInstalledMarkerKey);
  });
  if (opened == kFalse) {
    return;
  }
  TaggedValue current{std::string()};
  Guarded([&] { current = marker.QueryValue(); });
  // Install marks an unmarked key, uninstall empties a marked one; a marker
  // that already says what it should is left alone.
  const bool marked = !registry::IsEmptyText(current);
  if (marked != installed) {
    Guarded([&] { marker.QueryValue(TaggedValue{std::string(installed ? "1" : "")}); });
  }
}

void ZFenwarel::ApplyCaptions() {
  using localization::LoadLanguageString;
  if (localization::LanguageCode.empty()) {
    return;  // no usable language file: the built-in English texts stay
  }
  // Each text exactly as the file has it; a missing one leaves its caption empty.
  form_.SetCaption(LoadLanguageString(localization::kCaptionId));
  form_.SetControlCaption(chkStandbyMsg, LoadLanguageString(localization::kStandbyTextId));
  form_.SetControlCaption(chkHiberMsg, LoadLanguageString(localization::kHibernateTextId));
  form_.SetControlCaption(OK, LoadLanguageString(localization::kOkTextId));
  form_.SetControlCaption(Cancel, LoadLanguageString(localization::kCancelTextId));
}

void ZFenwarel::ProbeLimitedUser() {
  LimitedUser = kFalse;
  Registry probe;
  // A probe key that was there before stays, with whatever it holds.
  registry::Boolean existed = kFalse;
  Guarded([&] { existed = probe.OpenKey(kPolicyProbeKey); });
  registry::Boolean created = kFalse;
  Guarded([&] { created = probe.CreateKey(kPolicyProbeKey); });
  if (created == kFalse) {
    LimitedUser = kTrue;
  } else if (existed == kFalse) {
    Guarded([&] { probe.DeleteKey(); });
  }
}

void ZFenwarel::LoadSettings() {
  Registry settings;
  const SettingsLocation& location = SettingsFor(LimitedUser);
  Guarded([&] { settings.RootKeyName(location.root); });
  Guarded([&] { settings.CreateKey(location.key); });
  // A missing or unusable value becomes the default; a stored number stays.
  Guarded([&] { settings.SetDefault(kStickyKey, TaggedValue{kStickyKeyDefault}, kFalse); });
  Guarded([&] { settings.QueryName = kStickyKey; });
  std::int32_t flags = 0;
  Guarded([&] { flags = NumberOf(settings.QueryValue()); });
  const auto bits = static_cast<std::uint32_t>(flags);
  if ((bits & kStandbyMessage) != 0) {
    Guarded([&] { form_.SetChecked(chkStandbyMsg, true); });
  }
  if ((bits & kHibernateMessage) != 0) {
    Guarded([&] { form_.SetChecked(chkHiberMsg, true); });
  }
}

void ZFenwarel::Save() {
  {
    Registry settings;
    const SettingsLocation& location = SettingsFor(LimitedUser);
    settings.RootKeyName(location.root);
    settings.CreateKey(location.key);
    settings.QueryName = kStickyKey;
    // A value that is no number counts as 0, as it does at load: the dialog's
    // two bits are written all the same.
    std::int32_t stored = 0;
    Guarded([&] { stored = NumberOf(settings.QueryValue()); });
    std::uint32_t flags =
        static_cast<std::uint32_t>(stored) & ~(kStandbyMessage | kHibernateMessage);
    if (form_.IsChecked(chkStandbyMsg)) {
      flags |= kStandbyMessage;
    }
    if (form_.IsChecked(chkHiberMsg)) {
      flags |= kHibernateMessage;
    }
    settings.QueryValue(TaggedValue{static_cast<std::int32_t>(flags)});
    // Sent, not posted: the service has the new flags when this returns. Without
    // the service library the value is saved and nobody is told.
    Guarded([&] {
      SendMessageA(platform::GetVorkelHandle(), kNotifySettingsChanged, kSettingsChangedW,
                   kSettingsChangedL);
    });
  }
  form_.Close();
}

void ZFenwarel::OnClick(int control) {
  if (control == OK) {
    Save();
  } else if (control == Cancel) {
    form_.Close();
  }
}

void ZFenwarel::OnKeyPress(int character) {
  if (character == 27) {
    form_.Close();
  }
}

void ZFenwarel::OnMouseUp(int control) {
  if (control == chkStandbyMsg || control == chkHiberMsg) {
    form_.SetFocus(OK);
  }
}

void ZFenwarel::OnCloseRequest() { form_.Close(); }

}  // namespace app
