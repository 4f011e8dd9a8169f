// Fenwarel.exe: the settings dialog of the hotkey service, and the
// installer's helper with -i and -u.
#include "platform/win32_api.h"

#include <commctrl.h>

#include "app/settings_dialog.h"
#include "platform/guarded.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR arguments, int /*show*/) {
  // Orvisk.dll and the language files come from the program's directory or
  // the system's, never from whatever directory the program was started in.
  SetDllDirectoryA("");
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // Nothing is reported through the exit status, whatever happens.
  platform::Guarded([&] {
    app::ZFenwarel dialog;
    dialog.Load(arguments == nullptr ? "" : arguments);
    dialog.Run();
  });
  return 0;
}
