#pragma once

#include <string_view>

namespace app {

enum class StartMode {
  Uninstall,  // "-u": clear the installed marker, notify, close a running dialog
  Install,    // "-i": set the installed marker, notify
  Ignore,     // any other argument: end at once, touching nothing
  Normal,     // no argument: show the dialog, or bring the running one forward
};

// The raw argument text of a process's command line: everything after the
// program name, untouched. The name is read as Windows reads it: up to the
// closing quote when it starts with one, else up to the first space or tab.
std::string_view ArgumentsOf(std::string_view commandLine);

// The mode for the raw argument text after the program name, quotes
// included. Only spaces are trimmed and case does not matter; "-i -u", a
// quoted "-i" or a tab beside the switch is no switch.
StartMode ModeOf(std::string_view arguments);

}  // namespace app
