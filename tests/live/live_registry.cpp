// The layer between the registry code's test build and Windows' own calls.
#include "live/live_registry_control.h"

#include "live/live_registry_calls.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace live {
namespace {

struct Armed {
  std::size_t at = 0;  // 0: not armed
  std::size_t calls = 0;
  std::function<void()> change;
  LSTATUS failure = ERROR_SUCCESS;
  bool changed = false;
  std::vector<const char*> log;
};

Armed& State() {
  static Armed armed;
  return armed;
}

bool& WatchAllowed() {
  static bool allowed = true;
  return allowed;
}

struct Refusal {
  std::string name;
  std::size_t times = 0;
};

Refusal& RefusedWrite() {
  static Refusal refused;
  return refused;
}

// Counts a call; at the armed one, the other party acts first, or the call fails.
LSTATUS Turn(const char* call) {
  Armed& armed = State();
  if (armed.at == 0) {
    return ERROR_SUCCESS;
  }
  armed.log.push_back(call);
  if (++armed.calls != armed.at) {
    return ERROR_SUCCESS;
  }
  if (armed.change) {
    armed.change();
    armed.changed = true;
  }
  return armed.failure;
}

template <auto Real, class... Arguments>
LSTATUS Pass(const char* call, Arguments... arguments) {
  const LSTATUS failure = Turn(call);
  return failure != ERROR_SUCCESS ? failure : Real(arguments...);
}

// Whether `name` is the refused one and `key` holds a value of that name already.
bool Refused(HKEY key, const std::wstring& name) {
  Refusal& refused = RefusedWrite();
  if (refused.name.empty() || name != std::wstring(refused.name.begin(), refused.name.end()) ||
      RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  ++refused.times;
  return true;
}

}  // namespace

void Arm(std::size_t at, std::function<void()> change, LSTATUS failure) {
  State() = {at, 0, std::move(change), failure, false, {}};
  State().log.reserve(4096);
}

std::size_t Disarm() {
  const std::size_t calls = State().calls;
  State() = {};
  return calls;
}

bool Changed() { return State().changed; }

std::vector<const char*> Calls() { return State().log; }

void RefuseWrite(std::string name) { RefusedWrite() = {std::move(name), 0}; }

std::size_t Refusals() { return RefusedWrite().times; }

void Watching(bool allowed) { WatchAllowed() = allowed; }

}  // namespace live

using live::Pass;

LSTATUS WINAPI LiveRegCreateKeyA(HKEY a, LPCSTR b, PHKEY c) {
  return Pass<&RegCreateKeyA>("RegCreateKeyA", a, b, c);
}
LSTATUS WINAPI LiveRegCreateKeyExA(HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f,
                                   LPSECURITY_ATTRIBUTES g, PHKEY h, LPDWORD i) {
  return Pass<&RegCreateKeyExA>("RegCreateKeyExA", a, b, c, d, e, f, g, h, i);
}
LSTATUS WINAPI LiveRegDeleteKeyA(HKEY a, LPCSTR b) {
  return Pass<&RegDeleteKeyA>("RegDeleteKeyA", a, b);
}
LSTATUS WINAPI LiveRegDeleteValueA(HKEY a, LPCSTR b) {
  return Pass<&RegDeleteValueA>("RegDeleteValueA", a, b);
}
LSTATUS WINAPI LiveRegEnumKeyExW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPWSTR f,
                                 LPDWORD g, PFILETIME h) {
  return Pass<&RegEnumKeyExW>("RegEnumKeyExW", a, b, c, d, e, f, g, h);
}
LSTATUS WINAPI LiveRegEnumValueW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPDWORD f,
                                 LPBYTE g, LPDWORD h) {
  return Pass<&RegEnumValueW>("RegEnumValueW", a, b, c, d, e, f, g, h);
}
LSTATUS WINAPI LiveRegOpenKeyA(HKEY a, LPCSTR b, PHKEY c) {
  return Pass<&RegOpenKeyA>("RegOpenKeyA", a, b, c);
}
LSTATUS WINAPI LiveRegOpenKeyExA(HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e) {
  return Pass<&RegOpenKeyExA>("RegOpenKeyExA", a, b, c, d, e);
}
LSTATUS WINAPI LiveRegQueryInfoKeyA(HKEY a, LPSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f,
                                    LPDWORD g, LPDWORD h, LPDWORD i, LPDWORD j, LPDWORD k,
                                    PFILETIME l) {
  return Pass<&RegQueryInfoKeyA>("RegQueryInfoKeyA", a, b, c, d, e, f, g, h, i, j, k, l);
}
LSTATUS WINAPI LiveRegQueryValueA(HKEY a, LPCSTR b, LPSTR c, PLONG d) {
  return Pass<&RegQueryValueA>("RegQueryValueA", a, b, c, d);
}
LSTATUS WINAPI LiveRegQueryValueExA(HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) {
  return Pass<&RegQueryValueExA>("RegQueryValueExA", a, b, c, d, e, f);
}
LSTATUS WINAPI LiveRegQueryValueExW(HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) {
  return Pass<&RegQueryValueExW>("RegQueryValueExW", a, b, c, d, e, f);
}
LSTATUS WINAPI LiveRegSetValueA(HKEY a, LPCSTR b, DWORD c, LPCSTR d, DWORD e) {
  return Pass<&RegSetValueA>("RegSetValueA", a, b, c, d, e);
}
LSTATUS WINAPI LiveRegSetValueExA(HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) {
  if (b != nullptr && live::Refused(a, std::wstring(b, b + std::strlen(b)))) {
    return ERROR_ACCESS_DENIED;
  }
  return Pass<&RegSetValueExA>("RegSetValueExA", a, b, c, d, e, f);
}
LSTATUS WINAPI LiveRegSetValueExW(HKEY a, LPCWSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) {
  if (b != nullptr && live::Refused(a, b)) {
    return ERROR_ACCESS_DENIED;
  }
  return Pass<&RegSetValueExW>("RegSetValueExW", a, b, c, d, e, f);
}
LSTATUS platform::LiveDeleteOpenKey(HKEY key) {
  return Pass<&platform::DeleteOpenKey>("DeleteOpenKey", key);
}
LSTATUS platform::LiveWatchTree(HKEY key, TreeWatch& watch) {
  if (!live::WatchAllowed()) {
    const LSTATUS failure = live::Turn("WatchTree");
    return failure != ERROR_SUCCESS ? failure : ERROR_NOT_SUPPORTED;
  }
  return Pass<&platform::WatchTree, HKEY, TreeWatch&>("WatchTree", key, watch);
}
