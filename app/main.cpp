// Fenwarel.exe: the settings dialog of the hotkey service, and the
// installer's helper with -i and -u.
#include "platform/win32_api.h"

#include <commctrl.h>

#include <cstdlib>

#include "app/command_line.h"
#include "app/settings_dialog.h"
#include "platform/guarded.h"

// No exception ever leaves the program (the whole run is guarded), so the
// runtime's handler that would print an escaping exception's type is never
// used; replacing it keeps its C++ name demangler, a sixth of the program's
// size, out of Fenwarel.exe.
namespace __gnu_cxx {
void __verbose_terminate_handler();                   // NOLINT(bugprone-reserved-identifier)
void __verbose_terminate_handler() { std::abort(); }  // NOLINT(bugprone-reserved-identifier)
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*arguments*/,
                   int /*show*/) {
  // Orvisk.dll and the language files come from the program's directory or
  // the system's, never from whatever directory the program was started in.
  SetDllDirectoryA("");
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // Nothing is reported through the exit status, whatever happens.
  platform::Guarded([&] {
    app::ZFenwarel dialog;
    // The runtime's own argument has lost leading tabs already; a tab before
    // "-i" must keep it from being a switch.
    const char* commandLine = GetCommandLineA();
    dialog.Load(app::ArgumentsOf(commandLine == nullptr ? "" : commandLine));
    dialog.Run();
  });
  return 0;
}
