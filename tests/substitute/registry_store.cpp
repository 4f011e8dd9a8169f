// In-memory registry with the return codes and sizes of the Win32 calls:
// names compared without regard to the case of ASCII and Latin-1 letters,
// subkeys listed in sorted order, handles that outlive their key. Names and
// texts are held in UTF-16; the ANSI calls spell a character below 0x100 as
// its byte, any other as "?". There are no links.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_key.h"
#include "platform/win32_api.h"
#include "substitute/controls.h"

namespace {

using platform::fake::RegistryOperation;
using Bytes = std::vector<BYTE>;

std::wstring Folded(std::wstring_view text) {
  std::wstring folded(text);
  for (wchar_t& c : folded) {
    const bool lower = (c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
    c = lower ? static_cast<wchar_t>(c - 0x20) : c;
  }
  return folded;
}
std::string ToAnsi(std::wstring_view wide, char missing = '?') {
  std::string ansi;
  for (wchar_t c : wide) ansi += c > 0xFF ? missing : static_cast<char>(c);
  return ansi;
}
std::wstring ToWide(std::string_view ansi) {
  std::wstring wide;
  for (char c : ansi) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}
std::wstring Wide(LPCSTR text) { return text == nullptr ? L"" : ToWide(text); }
std::wstring Wide(LPCWSTR text) { return text == nullptr ? L"" : text; }
std::uintptr_t Id(HKEY key) { return reinterpret_cast<std::uintptr_t>(key); }
bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

struct Value {
  std::wstring name;
  DWORD type = REG_NONE;
  Bytes data{};  // a text's in UTF-16, low byte first
};

// A name, and a value's data, as the ANSI calls (char) and the wide ones see them.
std::string Spelt(const std::wstring& name, char /*ansi*/) { return ToAnsi(name); }
std::wstring Spelt(const std::wstring& name, wchar_t /*wide*/) { return name; }
Bytes DataOf(const Value& value, wchar_t /*wide*/) { return value.data; }
Bytes DataOf(const Value& value, char /*ansi*/) {
  if (!IsText(value.type)) return value.data;
  Bytes ansi;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    ansi.push_back(value.data[i + 1] != 0 ? '?' : value.data[i]);
  }
  return ansi;
}

// Keys are numbered, never twice: a handle names its key by number, and
// finds it gone once it was deleted. The roots' numbers are their handles'.
struct Key {
  std::wstring name;
  std::uintptr_t parent = 0;                          // none for a root
  bool isVolatile = false;                            // holds volatile subkeys only
  std::map<std::wstring, std::uintptr_t> children{};  // by folded name, listed so
  std::vector<Value> values{};                        // in order of creation

  Value* Find(std::wstring_view valueName) {
    auto it =
        std::ranges::find_if(values, [&](auto& v) { return Folded(v.name) == Folded(valueName); });
    return it == values.end() ? nullptr : &*it;
  }
};

// An operation on a key, by its root's number and its folded path, as refusals are kept.
std::wstring Place(RegistryOperation operation, std::uintptr_t root, const std::wstring& path) {
  return std::to_wstring(static_cast<int>(operation)) + L":" + std::to_wstring(root) + path;
}

struct Store {
  std::map<std::uintptr_t, Key> keys;
  std::map<std::uintptr_t, std::uintptr_t> handles;  // to the numbers of their keys
  std::set<std::wstring> refusals;  // places, a SetValue refusal's with "|" and the value's name
  static inline std::uintptr_t lastKey = 0;  // numbers are never reused, not even after a reset,
  static inline std::uintptr_t lastHandle = 0x1000;  // so a stale handle names no new key

  Store() {
    for (std::uintptr_t root = 0x80000000U; root <= 0x80000006U; ++root) {
      if (root != 0x80000004U) keys[root] = Key{};  // no performance data
    }
  }
  [[nodiscard]] bool Refused(RegistryOperation operation, std::uintptr_t key,
                             std::wstring_view value = {}) const {
    if (refusals.empty()) return false;  // a path at every call would make deep trees slow
    std::wstring path;
    for (; keys.at(key).parent != 0; key = keys.at(key).parent) {
      path.insert(0, L"\\" + Folded(keys.at(key).name));
    }
    const std::wstring place = Place(operation, key, path);
    return refusals.contains(place) || refusals.contains(place + L"|" + Folded(value));
  }
};

Store& TheStore() {
  static Store store;
  return store;
}

// `work` on the number and the key behind a handle, or the error a call on it gets.
template <class Work>
LSTATUS WithKey(HKEY handle, Work work) {
  Store& store = TheStore();
  auto opened = store.handles.find(Id(handle));
  const std::uintptr_t id = opened != store.handles.end() ? opened->second : Id(handle);
  auto key = store.keys.find(id);
  if (key != store.keys.end() && (opened != store.handles.end() || key->second.parent == 0)) {
    return work(id, key->second);
  }
  return opened != store.handles.end() ? ERROR_KEY_DELETED : ERROR_INVALID_HANDLE;
}

// Opens, or with `create` makes, `path` below the key of `parent`, handing
// out a new handle. Backslashes in a row are one, a trailing one names no
// further key, a leading one is refused.
LSTATUS Open(HKEY parent, std::wstring_view path, PHKEY result, bool create, DWORD options = 0,
             bool* made = nullptr) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (path.starts_with(L'\\')) return ERROR_BAD_PATHNAME;
  return WithKey(parent, [&](std::uintptr_t id, const Key& /*parent*/) {
    Store& store = TheStore();
    const bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;
    while (!path.empty()) {
      const std::wstring name(path.substr(0, path.find(L'\\')));
      path.remove_prefix(std::min(path.size(), name.size() + 1));
      Key& key = store.keys.at(id);
      auto it = key.children.find(Folded(name));
      if (name.empty() || it != key.children.end()) {
        id = name.empty() ? id : it->second;
        continue;
      }
      if (!create) return ERROR_FILE_NOT_FOUND;
      if (key.isVolatile && !isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
      store.keys[++store.lastKey] = Key{name, id, isVolatile};
      if (store.Refused(RegistryOperation::Create, store.lastKey)) {
        store.keys.erase(store.lastKey);
        return ERROR_ACCESS_DENIED;
      }
      id = key.children[Folded(name)] = store.lastKey;
      if (made != nullptr) *made = true;
    }
    if (store.Refused(create ? RegistryOperation::Create : RegistryOperation::Open, id)) {
      return ERROR_ACCESS_DENIED;
    }
    store.handles[store.lastHandle += 4] = id;
    *result = reinterpret_cast<HKEY>(store.lastHandle);  // NOLINT(performance-no-int-to-ptr)
    return ERROR_SUCCESS;
  });
}

// The open and create calls: `same` when an empty path hands back the key
// itself, rather than a new handle. REG_OPTION_OPEN_LINK opens the key itself.
template <class Char>
LSTATUS OpenKey(HKEY key, const Char* subKey, PHKEY result, bool create, bool same,
                DWORD options = 0, LPDWORD disposition = nullptr) {
  bool made = false;
  if ((options & ~(REG_OPTION_OPEN_LINK | (create ? REG_OPTION_VOLATILE : 0))) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  if (same && Wide(subKey).empty() && result != nullptr) {
    *result = key;
    return ERROR_SUCCESS;
  }
  const LSTATUS status = Open(key, Wide(subKey), result, create, options, &made);
  if (status == ERROR_SUCCESS && disposition != nullptr) {
    *disposition = made ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return status;
}

// The size alone without a buffer; ERROR_MORE_DATA and the size needed when it is short.
LSTATUS CopyOut(const Bytes& data, LPBYTE buffer, LPDWORD size) {
  if (size == nullptr) return buffer == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  const bool fits = buffer == nullptr || *size >= data.size();
  if (buffer != nullptr && fits) std::ranges::copy(data, buffer);
  *size = static_cast<DWORD>(data.size());
  return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

// A name and its terminator, or ERROR_MORE_DATA when they do not fit.
template <class Char>
LSTATUS CopyName(const std::basic_string<Char>& spelt, Char* name, DWORD& size) {
  if (name == nullptr || spelt.size() + 1 > size) return ERROR_MORE_DATA;
  std::copy(spelt.c_str(), spelt.c_str() + spelt.size() + 1, name);
  size = static_cast<DWORD>(spelt.size());
  return ERROR_SUCCESS;
}

template <class Char>
LSTATUS SetValue(HKEY key, const Char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                 DWORD size) {
  return WithKey(key, [&](std::uintptr_t id, Key& open) {
    const std::wstring name = Wide(valueName);
    const DWORD unit = sizeof(Char) == 1 ? 1 : 2;  // wchar_t is wider natively
    if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
    if (TheStore().Refused(RegistryOperation::SetValue, id, name)) return ERROR_ACCESS_DENIED;
    // As Windows does: a text whose terminator was left out of the size gets
    // it back when the character after the data is zero.
    if (IsText(type) && size >= unit && size % unit == 0 &&
        (data[size - 1] | data[size - unit]) != 0 && (data[size] | data[size + unit - 1]) == 0) {
      size += unit;
    }
    Bytes bytes;
    for (DWORD i = 0; i < size; ++i) {
      bytes.push_back(data[i]);
      if (unit == 1 && IsText(type)) bytes.push_back(0);  // an ANSI text widened
    }
    Value* value = open.Find(name);  // keeps the name it was first given
    if (value == nullptr) value = &open.values.emplace_back(Value{name});
    value->type = type;
    value->data = std::move(bytes);
    return ERROR_SUCCESS;
  });
}

template <class Char>
LSTATUS QueryValue(HKEY key, const Char* name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD size) {
  return WithKey(key, [&](std::uintptr_t /*id*/, Key& open) {
    if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
    const Value* value = open.Find(Wide(name));
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = value->type;
    return CopyOut(DataOf(*value, Char{}), data, size);
  });
}

template <class Char>
LSTATUS EnumValue(HKEY key, DWORD index, Char* name, LPDWORD nameSize, LPDWORD reserved,
                  LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  return WithKey(key, [&](std::uintptr_t /*id*/, const Key& open) {
    if (name == nullptr || nameSize == nullptr || reserved != nullptr ||
        (data != nullptr && dataSize == nullptr)) {
      return ERROR_INVALID_PARAMETER;
    }
    if (index >= open.values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = open.values[index];
    const LSTATUS status = CopyName(Spelt(value.name, Char{}), name, *nameSize);
    if (status != ERROR_SUCCESS) return status;
    if (type != nullptr) *type = value.type;
    return CopyOut(DataOf(value, Char{}), data, dataSize);
  });
}

// As both conversion calls hand a text out: its length alone for a
// capacity of 0, nothing (0) when it does not fit.
template <class Text, class Unit>
int Deliver(const Text& converted, Unit* out, int capacity) {
  if (capacity == 0) return static_cast<int>(converted.size());
  if (out == nullptr || converted.size() > static_cast<std::size_t>(capacity)) return 0;
  std::ranges::copy(converted, out);
  return static_cast<int>(converted.size());
}

}  // namespace

namespace platform::fake {

void ResetRegistry() { TheStore() = Store(); }
void RefuseRegistry(RegistryOperation operation, HKEY root, std::string_view path,
                    std::optional<std::string_view> valueName) {
  const std::wstring place = Place(operation, Id(root), L"\\" + Folded(ToWide(path)));
  TheStore().refusals.insert(valueName ? place + L"|" + Folded(ToWide(*valueName)) : place);
}
std::size_t OpenKeyCount() { return TheStore().handles.size(); }

}  // namespace platform::fake

namespace platform {

// A handle names its own key here, and the empty name is the key itself.
LSTATUS DeleteOpenKey(HKEY key) { return RegDeleteKeyA(key, ""); }
// Nothing here can watch a tree: the copy checks key by key.
LSTATUS WatchTree(HKEY /*key*/, TreeWatch& /*watch*/) { return ERROR_NOT_SUPPORTED; }
bool TreeWatch::Changed() const { return true; }

}  // namespace platform

UINT GetACP() { return 28591; }  // ISO 8859-1: each byte is the character of its value

int MultiByteToWideChar(UINT codePage, DWORD /*flags*/, LPCSTR text, int length, LPWSTR wide,
                        int wideLength) {
  if ((codePage != CP_ACP && codePage != GetACP()) || text == nullptr || wideLength < 0) return 0;
  return Deliver(ToWide({text, length < 0 ? std::strlen(text) + 1 : std::size_t(length)}), wide,
                 wideLength);
}
int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, LPCWSTR wide, int wideLength, LPSTR text,
                        int length, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  if ((codePage != CP_ACP && codePage != GetACP()) || wide == nullptr || length < 0) return 0;
  const std::wstring_view source(wide,
                                 wideLength < 0 ? std::wcslen(wide) + 1 : std::size_t(wideLength));
  if (usedDefaultChar != nullptr) *usedDefaultChar = ToWide(ToAnsi(source)) != source ? 1 : 0;
  return Deliver(ToAnsi(source, defaultChar == nullptr ? '?' : *defaultChar), text, length);
}

LSTATUS RegCloseKey(HKEY key) {
  const bool root = Id(key) >= 0x80000000U && TheStore().keys.contains(Id(key));
  return root || TheStore().handles.erase(Id(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return OpenKey(key, subKey, result, false, true);
}
// A predefined key with an empty path is handed back itself, any other gets a new handle.
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM /*access*/, PHKEY result) {
  return OpenKey(key, subKey, result, false, Id(key) >= 0x80000000U, options);
}
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM /*access*/, PHKEY result) {
  return OpenKey(key, subKey, result, false, Id(key) >= 0x80000000U, options);
}
LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return OpenKey(key, subKey, result, true, false);
}
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR /*keyClass*/, DWORD options,
                        REGSAM /*access*/, void* /*security*/, PHKEY result, LPDWORD disposition) {
  if (subKey == nullptr || reserved != 0) options = ~DWORD{0};  // an invalid parameter
  return OpenKey(key, subKey, result, true, false, options, disposition);
}
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR /*keyClass*/,
                        DWORD options, REGSAM /*access*/, void* /*security*/, PHKEY result,
                        LPDWORD disposition) {
  if (subKey == nullptr || reserved != 0) options = ~DWORD{0};  // an invalid parameter
  return OpenKey(key, subKey, result, true, false, options, disposition);
}

// A key's class and security and the length of its longest subkey name are
// not kept: asking for them is refused. Every key was last written at time 0.
LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
  return WithKey(key, [&](std::uintptr_t /*id*/, const Key& open) {
    if (keyClass || classSize || reserved || maxSubKeyLength || maxClassLength ||
        securityDescriptorSize) {
      return ERROR_INVALID_PARAMETER;
    }
    DWORD answers[4] = {static_cast<DWORD>(open.children.size()),
                        static_cast<DWORD>(open.values.size())};
    for (const Value& v : open.values) {  // lengths without a terminator, as Windows gives them
      answers[2] = std::max(answers[2], static_cast<DWORD>(v.name.size()));
      answers[3] = std::max(answers[3], static_cast<DWORD>(v.data.size()));
    }
    const LPDWORD fields[] = {subKeys, values, maxValueNameLength, maxValueLength};
    for (int i = 0; i < 4; ++i) {
      if (fields[i] != nullptr) *fields[i] = answers[i];
    }
    if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

// The empty path deletes the key of the handle itself.
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  return WithKey(key, [&](std::uintptr_t id, const Key& /*open*/) {
    Store& store = TheStore();
    HKEY child = nullptr;
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    if (LSTATUS status = *subKey == '\0' ? ERROR_SUCCESS : Open(key, Wide(subKey), &child, false);
        status != ERROR_SUCCESS) {
      return status;
    }
    id = child == nullptr ? id : store.handles[Id(child)];
    store.handles.erase(Id(child));
    const Key& target = store.keys.at(id);
    if (target.parent == 0 || !target.children.empty() ||
        store.Refused(RegistryOperation::Delete, id)) {
      return ERROR_ACCESS_DENIED;
    }
    store.keys.at(target.parent).children.erase(Folded(target.name));
    store.keys.erase(id);
    return ERROR_SUCCESS;
  });
}
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return WithKey(key, [&](std::uintptr_t id, Key& open) {
    const Value* value = open.Find(Wide(valueName));
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    if (TheStore().Refused(RegistryOperation::SetValue, id, value->name)) {
      return ERROR_ACCESS_DENIED;
    }
    open.values.erase(open.values.begin() + (value - open.values.data()));
    return ERROR_SUCCESS;
  });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
  return QueryValue(key, valueName, reserved, type, data, dataSize);
}
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
  return QueryValue(key, valueName, reserved, type, data, dataSize);
}
// The default value of `subKey` below `key`: the empty text when it has none.
LSTATUS RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* dataSize) {
  HKEY open = nullptr;
  if (LSTATUS status = RegOpenKeyA(key, subKey, &open); status != ERROR_SUCCESS) return status;
  const LSTATUS status =
      RegQueryValueExA(open, "", nullptr, nullptr, reinterpret_cast<LPBYTE>(data),
                       reinterpret_cast<LPDWORD>(dataSize));
  if (open != key) RegCloseKey(open);
  if (status != ERROR_FILE_NOT_FOUND) return status;
  if (data != nullptr) *data = '\0';
  if (dataSize != nullptr) *dataSize = 1;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
  return SetValue(key, valueName, reserved, type, data, dataSize);
}
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
  return SetValue(key, valueName, reserved, type, data, dataSize);
}
// The default value of `subKey` below `key`: the text and its terminator, whatever the size given.
LSTATUS RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD /*dataSize*/) {
  HKEY open = nullptr;
  if (type != REG_SZ || data == nullptr) return ERROR_INVALID_PARAMETER;
  if (LSTATUS status = RegCreateKeyA(key, subKey, &open); status != ERROR_SUCCESS) return status;
  const LSTATUS status = RegSetValueExA(open, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                        static_cast<DWORD>(std::strlen(data) + 1));
  RegCloseKey(open);
  return status;
}

// A key's class and time of last writing are not kept here: asking for them is refused.
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime) {
  return WithKey(key, [&](std::uintptr_t /*id*/, const Key& open) {
    if (!name || !nameSize || reserved || keyClass || classSize || lastWriteTime) {
      return ERROR_INVALID_PARAMETER;
    }
    if (index >= open.children.size()) return ERROR_NO_MORE_ITEMS;
    const Key& child = TheStore().keys.at(std::next(open.children.begin(), index)->second);
    return CopyName(child.name, name, *nameSize);
  });
}
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  return EnumValue(key, index, name, nameSize, reserved, type, data, dataSize);
}
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  return EnumValue(key, index, name, nameSize, reserved, type, data, dataSize);
}
