// Fenwarel.exe: the settings dialog of the hotkey service, and the
// installer's helper with -i and -u.
#include "platform/win32_api.h"

#include <commctrl.h>

#include "app/command_line.h"
#include "app/settings_dialog.h"
#include "platform/guarded.h"
#include "platform/startup_trace.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*arguments*/,
                   int /*show*/) {
  platform::TraceMark("entry");
  // Takes the directory it was started in out of later DLL searches, where
  // the system honours it (Wine does not). Orvisk.dll and the language files
  // do not depend on it: they are loaded by full paths.
  SetDllDirectoryA("");
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  platform::TraceMark("common-controls");

  // Nothing is reported through the exit status, whatever happens.
  platform::Guarded([&] {
    app::ZFenwarel dialog;
    // The runtime's own argument has lost leading tabs already; a tab before
    // "-i" must keep it from being a switch.
    const char* commandLine = GetCommandLineA();
    dialog.Load(app::ArgumentsOf(commandLine == nullptr ? "" : commandLine));
    dialog.Run();
  });
  platform::TraceFinish("return");
  return 0;
}
