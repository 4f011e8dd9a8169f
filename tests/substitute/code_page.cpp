// Code page 1252 and its best fit, as Windows (and Wine) convert with it.
#include "substitute/code_page.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <utility>

#include "platform/win32_api.h"

namespace platform::fake {
namespace {

// The characters of bytes 0x80 to 0x9F; 0xA0 to 0xFF are Latin-1 itself.
constexpr std::array<wchar_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Characters the code page lacks and the byte Windows writes for each, in
// the order of the characters: Latin letters with marks lose them.
constexpr std::pair<wchar_t, unsigned char> kBestFit[] = {
#include "substitute/best_fit_1252.inc"
};

// The byte of `c` in the code page, exactly or by best fit; 0 when none.
unsigned char Byte(wchar_t c, bool& exact) {
  exact = true;
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    return static_cast<unsigned char>(c);
  }
  const auto* high = std::find(kHigh.begin(), kHigh.end(), c);
  if (high != kHigh.end()) {
    return static_cast<unsigned char>(0x80 + (high - kHigh.begin()));
  }
  exact = false;
  const auto* fit =
      std::lower_bound(std::begin(kBestFit), std::end(kBestFit), c,
                       [](const auto& entry, wchar_t key) { return entry.first < key; });
  return fit != std::end(kBestFit) && fit->first == c ? fit->second : 0;
}

bool OurCodePage(UINT codePage) { return codePage == CP_ACP || codePage == 1252; }

// Hands a conversion out as both conversion calls do: its length alone
// for a capacity of 0, nothing (0) when it does not fit.
template <class Text, class Unit>
int Deliver(const Text& converted, Unit* out, int capacity) {
  if (capacity == 0) {
    return static_cast<int>(converted.size());
  }
  if (out == nullptr || converted.size() > static_cast<std::size_t>(capacity)) {
    return 0;
  }
  std::copy(converted.begin(), converted.end(), out);
  return static_cast<int>(converted.size());
}

}  // namespace

std::string ToAnsi(std::wstring_view wide) {
  std::string ansi;
  ansi.reserve(wide.size());
  for (wchar_t c : wide) {
    bool exact = true;
    const unsigned char byte = Byte(c, exact);
    ansi += byte == 0 && c != 0 ? '?' : static_cast<char>(byte);
  }
  return ansi;
}

std::wstring ToWide(std::string_view ansi) {
  std::wstring wide;
  wide.reserve(ansi.size());
  for (char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    wide += byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : static_cast<wchar_t>(byte);
  }
  return wide;
}

wchar_t Upper(wchar_t c) {
  const auto lowerLatin1 = (c >= 0xE0 && c <= 0xFE && c != 0xF7);
  if ((c >= L'a' && c <= L'z') || lowerLatin1 || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F)) {
    return static_cast<wchar_t>(c - 0x20);
  }
  if (c >= 0x450 && c <= 0x45F) {
    return static_cast<wchar_t>(c - 0x50);
  }
  // Latin Extended-A pairs its letters, capital first, but for two runs
  // that put the capital second.
  const bool oddCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if (c >= 0x100 && c <= 0x17E && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
    const bool lower = oddCapital ? (c % 2 == 0) : (c % 2 == 1);
    return lower ? static_cast<wchar_t>(c - 1) : c;
  }
  switch (c) {
    case 0xFF:
      return 0x178;
    default:
      return c;
  }
}

}  // namespace platform::fake

UINT GetACP() { return 1252; }

int MultiByteToWideChar(UINT codePage, DWORD /*flags*/, LPCSTR text, int length, LPWSTR wide,
                        int wideLength) {
  if (!platform::fake::OurCodePage(codePage) || text == nullptr || wideLength < 0) {
    return 0;
  }
  const std::size_t size = length < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
  return platform::fake::Deliver(platform::fake::ToWide(std::string_view(text, size)), wide,
                                 wideLength);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text,
                        int length, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  constexpr DWORD kNoBestFit = 0x400;  // WC_NO_BEST_FIT_CHARS
  if (!platform::fake::OurCodePage(codePage) || wide == nullptr || length < 0 ||
      (flags & ~kNoBestFit) != 0) {
    return 0;
  }
  const std::size_t size =
      wideLength < 0 ? std::wcslen(wide) + 1 : static_cast<std::size_t>(wideLength);
  std::string converted;
  bool usedDefault = false;
  for (std::size_t i = 0; i < size; ++i) {
    bool exact = true;
    unsigned char byte = platform::fake::Byte(wide[i], exact);
    if ((byte == 0 && wide[i] != 0) || (!exact && (flags & kNoBestFit) != 0)) {
      byte = defaultChar != nullptr ? static_cast<unsigned char>(*defaultChar) : '?';
      usedDefault = true;
    }
    converted += static_cast<char>(byte);
  }
  if (usedDefaultChar != nullptr) {
    *usedDefaultChar = usedDefault ? 1 : 0;
  }
  return platform::fake::Deliver(converted, text, length);
}
