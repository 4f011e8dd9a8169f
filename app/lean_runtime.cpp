// Fenwarel.exe's own versions of a few pieces of the C++ runtime, which
// would otherwise bring in far more than the program uses. They only change
// what is thrown, never whether: every statement that may fail is guarded,
// and a guard catches whatever is thrown.
#include <bits/functexcept.h>

#include <cstdlib>
#include <new>
#include <string>

#include "platform/error.h"

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl58-cpp): the runtime's own names

// No exception ever leaves the program, so the handler that would print an
// escaping exception's type, and its name demangler, are never needed.
namespace __gnu_cxx {
void __verbose_terminate_handler();
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The library's containers report impossible sizes through these. Its own
// versions build standard exceptions whose messages are strings of another
// string class, which alone would be a third of the program.
namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
void __throw_length_error(const char* what) { throw platform::Error(what); }
void __throw_logic_error(const char* what) { throw platform::Error(what); }
void __throw_out_of_range_fmt(const char* what, ...) { throw platform::Error(what); }
}  // namespace std

// Since GCC 14 the strings call one member out of line, which the library
// keeps beside every other member of both string classes: a sixth of the
// program. Made here, it comes alone.
#if _GLIBCXX_RELEASE >= 14
template void std::string::_M_replace_cold(char*, std::string::size_type, const char*,
                                           std::string::size_type, std::string::size_type);
template void std::wstring::_M_replace_cold(wchar_t*, std::wstring::size_type, const wchar_t*,
                                            std::wstring::size_type, std::wstring::size_type);
#endif

// NOLINTEND(bugprone-reserved-identifier,cert-dcl58-cpp)
