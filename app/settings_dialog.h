// The settings dialog, the program's only window. Its load handler drives
// the whole run: the installer's switches, a second start, or the normal
// start that shows the two options read from "StickyKey".
#pragma once

#include <string_view>

#include "platform/form.h"
#include "platform/single_instance.h"
#include "registry/tagged_value.h"

namespace app {

class ZFenwarel final : private platform::FormEvents {
 public:
  // The controls, by id.
  enum Control : int { OK = 101, Cancel = 102, chkStandbyMsg = 103, chkHiberMsg = 104 };

  // The dialog's window class; a handle is taken for this program's dialog
  // only when its window is of this class.
  static constexpr const char* kClassName = "ZFenwarel";

  // True for a user who cannot create keys under HKCU\Software\Policies: his
  // settings are his own, under HKCU. Decided once per normal start.
  registry::Boolean LimitedUser = registry::kFalse;

  // Creates the dialog with its window hidden.
  ZFenwarel();

  // The load handler, run once with the argument text after the program
  // name. Closes the dialog again, or prepares and shows it. Never throws:
  // each statement that fails is skipped on its own.
  void Load(std::string_view arguments);

  // Delivers the dialog's events until it closes; at once if it never opened.
  int Run() { return form_.RunEventLoop(); }

  platform::Form& Window() { return form_; }

 private:
  void UpdateInstalledMarker(bool installed);
  void ProbeLimitedUser();
  // The five texts of the user's language file, when it has a language code.
  void ApplyCaptions();
  void LoadSettings();
  void Save();
  // This program's dialog behind a handle that the service library kept, or
  // 0: a stale handle may by now name another program's window.
  [[nodiscard]] HWND OtherDialog(HWND candidate) const;

  void OnClick(int control) override;
  void OnKeyPress(int character) override;
  void OnMouseUp(int control) override;
  void OnCloseRequest() override;

  platform::Form form_;
  platform::SingleInstance instance_;
};

}  // namespace app
