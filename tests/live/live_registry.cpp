// The layer between the registry code's test build and Windows' own calls.
#include "live/live_registry_control.h"

#include "live/live_registry_calls.h"

#include <utility>

namespace live {
namespace {

struct Armed {
  std::size_t at = 0;  // 0: not armed
  std::size_t calls = 0;
  std::function<void()> change;
  LSTATUS failure = ERROR_SUCCESS;
  bool changed = false;
};

Armed& State() {
  static Armed armed;
  return armed;
}

bool& WatchAllowed() {
  static bool allowed = true;
  return allowed;
}

// Counts a call; at the armed one, the other party acts first, or the call fails.
LSTATUS Turn() {
  Armed& armed = State();
  if (armed.at == 0 || ++armed.calls != armed.at) {
    return ERROR_SUCCESS;
  }
  if (armed.change) {
    armed.change();
    armed.changed = true;
  }
  return armed.failure;
}

template <auto Real, class... Arguments>
LSTATUS Pass(Arguments... arguments) {
  const LSTATUS failure = Turn();
  return failure != ERROR_SUCCESS ? failure : Real(arguments...);
}

}  // namespace

void Arm(std::size_t at, std::function<void()> change, LSTATUS failure) {
  State() = {at, 0, std::move(change), failure, false};
}

std::size_t Disarm() {
  const std::size_t calls = State().calls;
  State() = {};
  return calls;
}

bool Changed() { return State().changed; }

void Watching(bool allowed) { WatchAllowed() = allowed; }

}  // namespace live

using live::Pass;

LSTATUS WINAPI LiveRegCreateKeyA(HKEY a, LPCSTR b, PHKEY c) {
  return Pass<&RegCreateKeyA>(a, b, c);
}
LSTATUS WINAPI LiveRegCreateKeyExA(HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f,
                                   LPSECURITY_ATTRIBUTES g, PHKEY h, LPDWORD i) {
  return Pass<&RegCreateKeyExA>(a, b, c, d, e, f, g, h, i);
}
LSTATUS WINAPI LiveRegDeleteKeyA(HKEY a, LPCSTR b) { return Pass<&RegDeleteKeyA>(a, b); }
LSTATUS WINAPI LiveRegDeleteValueA(HKEY a, LPCSTR b) { return Pass<&RegDeleteValueA>(a, b); }
LSTATUS WINAPI LiveRegEnumKeyExW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPWSTR f,
                                 LPDWORD g, PFILETIME h) {
  return Pass<&RegEnumKeyExW>(a, b, c, d, e, f, g, h);
}
LSTATUS WINAPI LiveRegEnumValueW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPDWORD f,
                                 LPBYTE g, LPDWORD h) {
  return Pass<&RegEnumValueW>(a, b, c, d, e, f, g, h);
}
LSTATUS WINAPI LiveRegOpenKeyA(HKEY a, LPCSTR b, PHKEY c) { return Pass<&RegOpenKeyA>(a, b, c); }
LSTATUS WINAPI LiveRegOpenKeyExA(HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e) {
  return Pass<&RegOpenKeyExA>(a, b, c, d, e);
}
LSTATUS WINAPI LiveRegQueryInfoKeyA(HKEY a, LPSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f,
                                    LPDWORD g, LPDWORD h, LPDWORD i, LPDWORD j, LPDWORD k,
                                    PFILETIME l) {
  return Pass<&RegQueryInfoKeyA>(a, b, c, d, e, f, g, h, i, j, k, l);
}
LSTATUS WINAPI LiveRegQueryValueA(HKEY a, LPCSTR b, LPSTR c, PLONG d) {
  return Pass<&RegQueryValueA>(a, b, c, d);
}
LSTATUS WINAPI LiveRegQueryValueExA(HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) {
  return Pass<&RegQueryValueExA>(a, b, c, d, e, f);
}
LSTATUS WINAPI LiveRegQueryValueExW(HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) {
  return Pass<&RegQueryValueExW>(a, b, c, d, e, f);
}
LSTATUS WINAPI LiveRegSetValueA(HKEY a, LPCSTR b, DWORD c, LPCSTR d, DWORD e) {
  return Pass<&RegSetValueA>(a, b, c, d, e);
}
LSTATUS WINAPI LiveRegSetValueExA(HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) {
  return Pass<&RegSetValueExA>(a, b, c, d, e, f);
}
LSTATUS WINAPI LiveRegSetValueExW(HKEY a, LPCWSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) {
  return Pass<&RegSetValueExW>(a, b, c, d, e, f);
}
LSTATUS platform::LiveDeleteOpenKey(HKEY key) { return Pass<&platform::DeleteOpenKey>(key); }
LSTATUS platform::LiveWatchTree(HKEY key, TreeWatch& watch) {
  if (!live::WatchAllowed()) {
    const LSTATUS failure = live::Turn();
    return failure != ERROR_SUCCESS ? failure : ERROR_NOT_SUPPORTED;
  }
  return Pass<&platform::WatchTree, HKEY, TreeWatch&>(key, watch);
}
