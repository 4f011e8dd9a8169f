#include "platform/program_folder.h"

#include "platform/win32_api.h"

namespace platform {
namespace {

std::wstring WithBackslash(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\') {
    folder += L'\\';
  }
  return folder;
}

// A folder from a call that copies it into a buffer and returns its length,
// or the size it needs when the buffer is short.
template <class Call>
std::wstring FolderFrom(Call call) {
  std::wstring folder(MAX_PATH, L'\0');
  UINT length = call(folder.data(), static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    folder.resize(length);
    length = call(folder.data(), static_cast<UINT>(folder.size()));
  }
  folder.resize(length < folder.size() ? length : 0);
  return WithBackslash(std::move(folder));
}

}  // namespace

std::wstring ProgramFolder() {
  // Long paths are cut to the buffer: grow it until the whole path fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring SystemFolder() {
  return FolderFrom([](wchar_t* buffer, UINT size) { return GetSystemDirectoryW(buffer, size); });
}

std::wstring WindowsFolder() {
  // The shared one: on a remote-desktop session host GetWindowsDirectoryW may
  // name a private folder in the user's profile, which the user can write.
  return FolderFrom(
      [](wchar_t* buffer, UINT size) { return GetSystemWindowsDirectoryW(buffer, size); });
}

std::wstring Widened(std::string_view name) { return {name.begin(), name.end()}; }

}  // namespace platform
