// Fenwarel.exe: the settings dialog of the hotkey service, and the
// installer's helper with -i and -u.
#include "platform/win32_api.h"

#include "app/command_line.h"
#include "app/settings_dialog.h"
#include "platform/guarded.h"
#include "platform/library_search.h"
#include "platform/startup_trace.h"
#include "platform/win32/common_controls.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*arguments*/,
                   int /*show*/) {
  // Before anything can load a library by name: neither the current
  // directory nor PATH may supply code to a program that installers start
  // elevated. Orvisk.dll and the language files are loaded by full paths.
  platform::KeepLibrarySearchSafe();
  platform::TraceMark("entry");
  // Only now, not imported: their start loads the display driver by name.
  platform::CommonControls::Start();
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
