// Where the program takes its files from: its own folder and the system's.
// Paths are built in UTF-16, so that a folder whose name the ANSI code page
// cannot spell (a Cyrillic user name on a German system) still works.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The folder of Fenwarel.exe, with a trailing backslash; "" when unknown.
std::wstring ProgramFolder();
// The system folder and the shared Windows folder (never a user's private
// one), each with a trailing backslash.
std::wstring SystemFolder();
std::wstring WindowsFolder();

// A bare file name of the program's own (plain ASCII) in UTF-16.
std::wstring Widened(std::string_view name);

}  // namespace platform
