#pragma once

#include <string_view>

namespace app {

enum class StartMode {
  Uninstall,  // "-u": clear the installed marker, notify, close a running dialog
  Install,    // "-i": set the installed marker, notify
  Ignore,     // any other argument: end at once, touching nothing
  Normal,     // no argument: show the dialog, or bring the running one forward
};

// The mode for the raw argument text after the program name, quotes
// included. Only spaces are trimmed and case does not matter; "-i -u" or a
// quoted "-i" is no switch.
StartMode ModeOf(std::string_view arguments);

}  // namespace app
