#include "platform/registry_key.h"

namespace platform {

LSTATUS DeleteOpenKey(HKEY key) {
  // The native call takes the handle itself; ntdll is in every process, so
  // nothing is searched for.
  using NtDeleteKeyCall = LONG(WINAPI*)(HANDLE);
  using ToDosError = ULONG(WINAPI*)(LONG);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto remove = ntdll == nullptr ? nullptr
                                       : reinterpret_cast<NtDeleteKeyCall>(reinterpret_cast<void*>(
                                             GetProcAddress(ntdll, "NtDeleteKey")));
  const auto toDos = ntdll == nullptr ? nullptr
                                      : reinterpret_cast<ToDosError>(reinterpret_cast<void*>(
                                            GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  if (remove == nullptr || toDos == nullptr) {
    return ERROR_CALL_NOT_IMPLEMENTED;
  }
  const LONG status = remove(key);
  return status == 0 ? ERROR_SUCCESS : static_cast<LSTATUS>(toDos(status));
}

LSTATUS WatchTree(HKEY key, TreeWatch& watch) {
  if (!watch.event_) {
    watch.event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!watch.event_) {
      return static_cast<LSTATUS>(GetLastError());
    }
  }
  ResetEvent(watch.event_.get());
  return RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                 watch.event_.get(), TRUE);
}

bool TreeWatch::Changed() const {
  return !event_ || WaitForSingleObject(event_.get(), 0) != WAIT_TIMEOUT;
}

}  // namespace platform
