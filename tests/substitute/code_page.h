// The substitute's ANSI code page, 1252 (Western European), as Windows
// converts with it: names live in UTF-16, and what the ANSI calls hand out
// is their best fit, so that two names may spell alike.
#pragma once

#include <string>
#include <string_view>

namespace platform::fake {

// As WideCharToMultiByte with flags 0: a character the code page lacks
// becomes its best fit ("ā" gives "a") or "?".
std::string ToAnsi(std::wstring_view wide);
// As MultiByteToWideChar: every byte of the code page has its character.
std::wstring ToWide(std::string_view ansi);

// The registry's comparison of names: letters without regard to case,
// beyond ASCII too (Latin, Greek, Cyrillic), as the upper-case table does.
wchar_t Upper(wchar_t c);

}  // namespace platform::fake
