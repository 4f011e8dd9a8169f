// In-memory registry with the observable behaviour of the Win32 calls:
// return codes, reported sizes, case-insensitive names, subkeys enumerated
// in sorted order, handles that outlive the deletion of their key; names in
// UTF-16 that the ANSI calls spell in code page 1252, best fit and all;
// symbolic links followed on every path as Windows follows them.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "substitute/code_page.h"
#include "substitute/fake_registry.h"
#include "platform/win32_api.h"

namespace {

using platform::fake::ToAnsi;
using platform::fake::ToWide;
using platform::fake::Upper;

// Names compare as the registry compares them: each character in upper
// case, beyond ASCII too.
std::wstring Folded(std::wstring_view text) {
  std::wstring folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), Upper);
  return folded;
}

// Compared letter by letter, without a folded copy: a key may have
// thousands of subkeys, each looked up by name.
bool SameName(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return Upper(x) == Upper(y); });
}

bool FoldedLess(std::wstring_view a, std::wstring_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) { return Upper(x) < Upper(y); });
}

constexpr std::wstring_view kLinkValue = L"SymbolicLinkValue";

struct Value {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::wstring name;
  std::uintptr_t root = 0;
  Key* parent = nullptr;
  std::vector<std::shared_ptr<Key>> children;  // sorted by folded name
  std::vector<Value> values;                   // in order of creation
  bool deleted = false;
  bool isVolatile = false;  // gone at the next start; holds volatile subkeys only
  bool isLink = false;      // its SymbolicLinkValue names the key it stands for

  // Children stay sorted by folded name: a key may have thousands.
  [[nodiscard]] auto Place(std::wstring_view childName) const {
    return std::lower_bound(
        children.begin(), children.end(), childName,
        [](const auto& child, std::wstring_view name) { return FoldedLess(child->name, name); });
  }
  std::shared_ptr<Key> Child(std::wstring_view childName) const {
    auto it = Place(childName);
    return it == children.end() || !SameName((*it)->name, childName) ? nullptr : *it;
  }
  Value* FindValue(std::wstring_view valueName) {
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const Value& v) { return SameName(v.name, valueName); });
    return it == values.end() ? nullptr : &*it;
  }
  // Root and path, folded, as refusals name them.
  std::wstring Path() const {
    std::vector<const Key*> chain;
    for (const Key* k = this; k->parent != nullptr; k = k->parent) {
      chain.push_back(k);
    }
    std::wstring path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      path += path.empty() ? L"" : L"\\";
      path += Folded((*it)->name);
    }
    return path;
  }
};

struct Refusal {
  platform::fake::RegistryOperation operation;
  std::uintptr_t root;
  std::wstring path;
  std::optional<std::wstring> valueName;  // of a SetValue refusal: this value only
};

struct Store {
  std::map<std::uintptr_t, std::shared_ptr<Key>> roots;
  std::map<std::uintptr_t, std::shared_ptr<Key>> handles;
  std::vector<Refusal> refusals;
  std::uintptr_t nextHandle = 0x1000;
  std::size_t calls = 0;
  std::vector<const char*> log;  // the name of each call counted
  std::size_t failAt = 0;        // the call, counted from the arming, that is to fail
  LSTATUS failure = ERROR_SUCCESS;
  int depth = 0;  // calls in progress: one call may make others

  Store() { Reset(); }

  void Reset() {
    roots.clear();
    handles.clear();
    refusals.clear();
    calls = 0;
    log.clear();
    failAt = 0;
    for (std::uintptr_t id :
         {0x80000000U, 0x80000001U, 0x80000002U, 0x80000003U, 0x80000005U, 0x80000006U}) {
      auto root = std::make_shared<Key>();
      root->root = id;
      roots[id] = root;
    }
  }

  static std::uintptr_t Id(HKEY key) { return reinterpret_cast<std::uintptr_t>(key); }

  std::shared_ptr<Key> Resolve(HKEY key) const {
    auto root = roots.find(Id(key));
    if (root != roots.end()) {
      return root->second;
    }
    auto handle = handles.find(Id(key));
    return handle == handles.end() ? nullptr : handle->second;
  }

  std::shared_ptr<Key> Root(HKEY key) const { return roots.at(Id(key)); }

  HKEY NewHandle(std::shared_ptr<Key> key) {
    std::uintptr_t id = nextHandle;
    nextHandle += 4;
    handles[id] = std::move(key);
    return reinterpret_cast<HKEY>(id);  // NOLINT(performance-no-int-to-ptr)
  }

  bool Refused(platform::fake::RegistryOperation operation, const Key& key,
               std::wstring_view valueName = {}) const {
    return std::any_of(refusals.begin(), refusals.end(), [&](const Refusal& r) {
      return r.operation == operation && r.root == key.root && r.path == key.Path() &&
             (!r.valueName || SameName(*r.valueName, valueName));
    });
  }
};

Store& TheStore() {
  static Store store;
  return store;
}

// Every call of the registry's interface counts once, however it ends; the
// calls it makes of the others to do its work do not count. The call armed
// to fail does nothing but return its error.
class Call {
 public:
  explicit Call(const char* name) {
    Store& store = TheStore();
    if (store.depth++ == 0) {
      ++store.calls;
      store.log.push_back(name);
      if (store.failAt != 0 && --store.failAt == 0) {
        injected_ = store.failure;
      }
    }
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() { --TheStore().depth; }
  [[nodiscard]] LSTATUS Injected() const { return injected_; }

 private:
  LSTATUS injected_ = ERROR_SUCCESS;
};

// Splits a path into key names: backslashes in a row count as one, and a
// trailing one is tolerated.
std::vector<std::wstring> Names(std::wstring_view path) {
  std::vector<std::wstring> names;
  while (!path.empty()) {
    const std::size_t cut = path.find(L'\\');
    if (cut != 0) {
      names.emplace_back(path.substr(0, cut));
    }
    path = cut == std::wstring_view::npos ? std::wstring_view{} : path.substr(cut + 1);
  }
  return names;
}

using platform::fake::RegistryOperation;

// Where a link points: the root and the names below it of its
// SymbolicLinkValue, a full path of the form \Registry\Machine\... or
// \Registry\User\<the user's SID>\... (this user's hive is HKCU). False
// when the value is missing or names no key of ours.
bool LinkTarget(Key& link, std::shared_ptr<Key>& root, std::vector<std::wstring>& names) {
  const Value* value = link.FindValue(kLinkValue);
  if (value == nullptr || value->type != REG_LINK) {
    return false;
  }
  std::wstring path;  // an odd last byte is no character
  for (std::size_t i = 0; i + 1 < value->data.size(); i += 2) {
    path += static_cast<wchar_t>(value->data[i] | (value->data[i + 1] << 8));
  }
  if (path.empty() || path.front() != L'\\') {
    return false;
  }
  names = Names(path);
  Store& store = TheStore();
  const std::vector<std::wstring> user = Names(platform::fake::kCurrentUserKeyPath);
  if (names.size() >= 2 && SameName(names[0], L"Registry") && SameName(names[1], L"Machine")) {
    root = store.Root(HKEY_LOCAL_MACHINE);
    names.erase(names.begin(), names.begin() + 2);
  } else if (names.size() >= 3 && SameName(names[0], user[0]) && SameName(names[1], user[1]) &&
             SameName(names[2], user[2])) {
    root = store.Root(HKEY_CURRENT_USER);
    names.erase(names.begin(), names.begin() + 3);
  } else if (names.size() >= 2 && SameName(names[0], L"Registry") && SameName(names[1], L"User")) {
    root = store.Root(HKEY_USERS);
    names.erase(names.begin(), names.begin() + 2);
  } else {
    return false;
  }
  // A terminator stored with the path is part of its last name.
  return std::none_of(names.begin(), names.end(),
                      [](const std::wstring& name) { return name.find(L'\0') != name.npos; });
}

// How a path is walked: what is made when missing, and whether a link as
// its last name is the key itself rather than the key it points to.
struct Walk {
  bool create = false;
  bool openLink = false;    // REG_OPTION_OPEN_LINK
  bool createLink = false;  // REG_OPTION_CREATE_LINK
  bool isVolatile = false;  // REG_OPTION_VOLATILE: a volatile key refuses a child that is not
};

// Windows follows a chain of at most 32 links; a longer one, or a loop,
// gives ERROR_INVALID_PARAMETER.
constexpr int kMostLinks = 32;

// Finds (or makes) `names` below `key`, following every link on the way as
// Windows does: a link starts the walk anew from the key it points to,
// followed by the names after it. A link is itself only as the last name
// and with `openLink`, or when no name is left (a handle opened as a link).
LSTATUS Find(std::shared_ptr<Key> key, std::vector<std::wstring> names, const Walk& walk,
             std::shared_ptr<Key>& found, bool& created) {
  Store& store = TheStore();
  created = false;
  int links = 0;
  // A link's own path is not made: names before this index must be there.
  std::size_t mustExist = 0;
  if (key->isLink && !names.empty()) {
    std::vector<std::wstring> target;
    if (!LinkTarget(*key, key, target)) {
      return ERROR_FILE_NOT_FOUND;
    }
    mustExist = target.empty() ? 0 : target.size() - 1;
    names.insert(names.begin(), target.begin(), target.end());
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    std::shared_ptr<Key> child = key->Child(names[i]);
    if (!child) {
      if (!walk.create || i < mustExist) {
        return ERROR_FILE_NOT_FOUND;
      }
      if (key->isVolatile && !walk.isVolatile) {
        return ERROR_CHILD_MUST_BE_VOLATILE;
      }
      child = std::make_shared<Key>();
      child->isVolatile = walk.isVolatile;
      child->isLink = walk.createLink && last;
      child->name = names[i];
      child->root = key->root;
      child->parent = key.get();
      if (store.Refused(RegistryOperation::Create, *child)) {
        return ERROR_ACCESS_DENIED;
      }
      key->children.insert(key->Place(names[i]), child);
      created = created || last;
    } else if (last && walk.createLink) {
      return ERROR_ALREADY_EXISTS;  // and no handle
    } else if (child->isLink && !(last && walk.openLink)) {
      std::vector<std::wstring> target;
      if (++links > kMostLinks) {
        return ERROR_INVALID_PARAMETER;
      }
      if (!LinkTarget(*child, key, target)) {
        return ERROR_FILE_NOT_FOUND;
      }
      mustExist = target.empty() ? 0 : target.size() - 1;
      target.insert(target.end(), names.begin() + static_cast<std::ptrdiff_t>(i) + 1, names.end());
      names = std::move(target);
      i = static_cast<std::size_t>(-1);  // from the first name of the new path
      if (names.empty()) {
        found = key;
        return ERROR_SUCCESS;
      }
      continue;
    }
    key = child;
  }
  found = key;
  return ERROR_SUCCESS;
}

// Opens or creates `subKey` below the key of `parentHandle` and hands out a
// new handle to it.
LSTATUS OpenOrCreate(HKEY parentHandle, const std::wstring& subKey, PHKEY result, const Walk& walk,
                     bool* created = nullptr) {
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (created != nullptr) {
    *created = false;
  }
  Store& store = TheStore();
  std::shared_ptr<Key> key = store.Resolve(parentHandle);
  if (!key) {
    return ERROR_INVALID_HANDLE;
  }
  // Wine's ANSI calls widen a path into a buffer of 261 characters: a
  // longer one is refused, though each name may have 255.
  if (subKey.size() > 260) {
    return ERROR_MORE_DATA;
  }
  // A leading backslash is refused, as Windows does.
  if (!subKey.empty() && subKey.front() == L'\\') {
    return ERROR_BAD_PATHNAME;
  }
  if (key->deleted) {
    return ERROR_KEY_DELETED;
  }
  std::shared_ptr<Key> found;
  bool made = false;
  if (LSTATUS status = Find(key, Names(subKey), walk, found, made); status != ERROR_SUCCESS) {
    if (status == ERROR_ALREADY_EXISTS) {
      *result = nullptr;
    }
    return status;
  }
  if (store.Refused(walk.create ? RegistryOperation::Create : RegistryOperation::Open, *found)) {
    return ERROR_ACCESS_DENIED;
  }
  if (created != nullptr) {
    *created = made;
  }
  *result = store.NewHandle(found);
  return ERROR_SUCCESS;
}

std::wstring Widened(LPCSTR text) { return text == nullptr ? std::wstring() : ToWide(text); }
std::wstring Taken(LPCWSTR text) { return text == nullptr ? std::wstring() : std::wstring(text); }

// The open key behind a handle, or the error a call on it gets.
LSTATUS Live(HKEY handle, std::shared_ptr<Key>& key) {
  key = TheStore().Resolve(handle);
  if (!key) {
    return ERROR_INVALID_HANDLE;
  }
  return key->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

std::shared_ptr<Key> Clone(const Key& key, Key* parent) {
  auto copy = std::make_shared<Key>();
  copy->name = key.name;
  copy->root = key.root;
  copy->parent = parent;
  copy->values = key.values;
  copy->isVolatile = key.isVolatile;
  copy->isLink = key.isLink;
  copy->children.reserve(key.children.size());
  for (const auto& child : key.children) {
    copy->children.push_back(Clone(*child, copy.get()));
  }
  return copy;
}

void Erase(Key& key) {
  key.deleted = true;
  key.parent = nullptr;
  for (auto& child : key.children) {
    Erase(*child);
  }
  key.children.clear();
}

// Hands stored data out the way the ANSI calls do: the size alone without a
// buffer, ERROR_MORE_DATA with the needed size when the buffer is short.
LSTATUS CopyOut(const std::vector<BYTE>& data, LPBYTE buffer, LPDWORD size) {
  if (size == nullptr) {
    return buffer == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  }
  auto needed = static_cast<DWORD>(data.size());
  if (buffer != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::copy(data.begin(), data.end(), buffer);
  }
  *size = needed;
  return ERROR_SUCCESS;
}

void Assign(Key& key, std::wstring_view name, DWORD type, std::vector<BYTE> data) {
  if (Value* existing = key.FindValue(name)) {
    existing->type = type;
    existing->data = std::move(data);
    return;
  }
  key.values.push_back(Value{std::wstring(name), type, std::move(data)});
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Texts' data is held in UTF-16, two bytes a character, low byte first,
// as the registry holds it: the wide calls see it so, the ANSI calls spell
// it in the code page.
std::vector<BYTE> Utf16(std::wstring_view text) {
  std::vector<BYTE> bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>((c >> 8) & 0xFF));
  }
  return bytes;
}

std::vector<BYTE> AnsiData(const Value& value) {
  if (!IsText(value.type)) {
    return value.data;
  }
  std::wstring text;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    text += static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
  }
  const std::string ansi = ToAnsi(text);
  return {ansi.begin(), ansi.end()};
}

// What a value's name and data may be on the key: a link holds its
// SymbolicLinkValue alone, of type REG_LINK.
LSTATUS MayHold(const Key& key, std::wstring_view name, DWORD type) {
  if (key.isLink && !(SameName(name, kLinkValue) && type == REG_LINK)) {
    return ERROR_ACCESS_DENIED;
  }
  return TheStore().Refused(RegistryOperation::SetValue, key, name) ? ERROR_ACCESS_DENIED
                                                                    : ERROR_SUCCESS;
}

LSTATUS SetValue(HKEY key, std::wstring_view name, DWORD reserved, DWORD type, const BYTE* data,
                 DWORD dataSize, bool wide) {
  if (reserved != 0 || (data == nullptr && dataSize != 0)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  if (LSTATUS status = MayHold(*open, name, type); status != ERROR_SUCCESS) {
    return status;
  }
  std::vector<BYTE> bytes;
  // As Windows does: a text whose terminator was left out of the size gets
  // it back when the character after the data is zero.
  if (!wide && IsText(type)) {
    if (dataSize > 0 && data[dataSize - 1] != 0 && data[dataSize] == 0) {
      ++dataSize;
    }
    bytes = Utf16(ToWide(std::string(data, data + dataSize)));
  } else {
    if (IsText(type) && dataSize >= 2 && dataSize % 2 == 0 &&
        (data[dataSize - 2] != 0 || data[dataSize - 1] != 0) && data[dataSize] == 0 &&
        data[dataSize + 1] == 0) {
      dataSize += 2;
    }
    bytes.assign(data, data + dataSize);
  }
  Assign(*open, name, type, std::move(bytes));
  return ERROR_SUCCESS;
}

// RegQueryValueExA and RegQueryValueExW: the data as the ANSI or the wide
// calls see it.
LSTATUS QueryValue(HKEY key, std::wstring_view name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize, bool wide) {
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  const Value* value = open->FindValue(name);
  if (value == nullptr) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (type != nullptr) {
    *type = value->type;
  }
  return CopyOut(wide ? value->data : AnsiData(*value), data, dataSize);
}

// RegEnumValueA and RegEnumValueW: `name` receives the value's name as
// `spell` gives it, in units of `Unit`.
template <class Unit, class Spell>
LSTATUS EnumValue(HKEY key, DWORD index, Unit* name, LPDWORD nameSize, LPDWORD reserved,
                  LPDWORD type, LPBYTE data, LPDWORD dataSize, Spell spell) {
  if (name == nullptr || nameSize == nullptr || reserved != nullptr ||
      (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  if (index >= open->values.size()) {
    return ERROR_NO_MORE_ITEMS;
  }
  const Value& value = open->values[index];
  const auto spelled = spell(value);
  if (spelled.first.size() + 1 > *nameSize) {
    return ERROR_MORE_DATA;
  }
  std::copy(spelled.first.begin(), spelled.first.end(), name);
  name[spelled.first.size()] = 0;
  *nameSize = static_cast<DWORD>(spelled.first.size());
  if (type != nullptr) {
    *type = value.type;
  }
  return CopyOut(spelled.second, data, dataSize);
}

}  // namespace

namespace platform::fake {

void ResetRegistry() { TheStore().Reset(); }

void RefuseRegistry(RegistryOperation operation, HKEY root, std::string_view path,
                    std::optional<std::string_view> valueName) {
  TheStore().refusals.push_back(
      Refusal{operation, reinterpret_cast<std::uintptr_t>(root), Folded(ToWide(path)),
              valueName ? std::optional<std::wstring>(ToWide(*valueName)) : std::nullopt});
}

class SavedRegistry {
 public:
  std::map<std::uintptr_t, std::shared_ptr<Key>> roots;
};

std::shared_ptr<const SavedRegistry> SaveRegistry() {
  auto saved = std::make_shared<SavedRegistry>();
  for (const auto& [id, root] : TheStore().roots) {
    saved->roots[id] = Clone(*root, nullptr);
  }
  return saved;
}

void RestoreRegistry(const SavedRegistry& saved) {
  Store& store = TheStore();
  store.handles.clear();
  for (const auto& [id, root] : saved.roots) {
    store.roots[id] = Clone(*root, nullptr);
  }
}

std::size_t OpenKeyCount() { return TheStore().handles.size(); }

std::size_t RegistryCallCount() { return TheStore().calls; }

std::vector<std::string_view> RegistryCallLog() {
  const auto& log = TheStore().log;
  return {log.begin(), log.end()};
}

void FailRegistryCall(std::size_t nth, LSTATUS error) {
  TheStore().failAt = nth;
  TheStore().failure = error;
}

bool InsideRegistryCall() { return TheStore().depth > 0; }

}  // namespace platform::fake

LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  const Call call("RegOpenKeyA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  // An empty path hands back the parent's own handle, not a new one.
  if (subKey == nullptr || *subKey == '\0') {
    *result = key;
    return ERROR_SUCCESS;
  }
  return OpenOrCreate(key, Widened(subKey), result, Walk{});
}

namespace {

LSTATUS OpenEx(HKEY key, const std::wstring& subKey, DWORD options, PHKEY result) {
  if ((options & ~REG_OPTION_OPEN_LINK) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  // A predefined key with an empty path is handed back itself; any other
  // key gets a new handle.
  if (subKey.empty() && result != nullptr && TheStore().roots.contains(Store::Id(key))) {
    *result = key;
    return ERROR_SUCCESS;
  }
  Walk walk;
  walk.openLink = (options & REG_OPTION_OPEN_LINK) != 0;
  return OpenOrCreate(key, subKey, result, walk);
}

LSTATUS CreateEx(HKEY key, const std::wstring& subKey, DWORD reserved, DWORD options, PHKEY result,
                 LPDWORD disposition) {
  constexpr DWORD kKnown = REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK | REG_OPTION_OPEN_LINK;
  if (reserved != 0 || (options & ~kKnown) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  Walk walk;
  walk.create = true;
  walk.isVolatile = (options & REG_OPTION_VOLATILE) != 0;
  walk.createLink = (options & REG_OPTION_CREATE_LINK) != 0;
  walk.openLink = (options & REG_OPTION_OPEN_LINK) != 0;
  bool created = false;
  const LSTATUS status = OpenOrCreate(key, subKey, result, walk, &created);
  if (status == ERROR_SUCCESS && disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return status;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM /*access*/, PHKEY result) {
  const Call call("RegOpenKeyExA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return OpenEx(key, Widened(subKey), options, result);
}

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM /*access*/, PHKEY result) {
  const Call call("RegOpenKeyExW");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return OpenEx(key, Taken(subKey), options, result);
}

LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  const Call call("RegCreateKeyA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  Walk walk;
  walk.create = true;
  return OpenOrCreate(key, Widened(subKey), result, walk);
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR /*keyClass*/, DWORD options,
                        REGSAM /*access*/, void* /*security*/, PHKEY result, LPDWORD disposition) {
  const Call call("RegCreateKeyExA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  if (subKey == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  return CreateEx(key, Widened(subKey), reserved, options, result, disposition);
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR /*keyClass*/,
                        DWORD options, REGSAM /*access*/, void* /*security*/, PHKEY result,
                        LPDWORD disposition) {
  const Call call("RegCreateKeyExW");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  if (subKey == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  return CreateEx(key, Taken(subKey), reserved, options, result, disposition);
}

LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
  const Call call("RegQueryInfoKeyA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  if (reserved != nullptr || (keyClass != nullptr && classSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  // Keys have no class here; lengths are without the terminator, as Windows gives them.
  auto longest = [](const auto& items, auto length) {
    std::size_t most = 0;
    for (const auto& item : items) {
      most = std::max(most, length(item));
    }
    return static_cast<DWORD>(most);
  };
  if (keyClass != nullptr && *classSize > 0) {
    *keyClass = '\0';
  }
  for (LPDWORD zero : {classSize, maxClassLength, securityDescriptorSize}) {
    if (zero != nullptr) {
      *zero = 0;
    }
  }
  if (subKeys != nullptr) {
    *subKeys = static_cast<DWORD>(open->children.size());
  }
  if (maxSubKeyLength != nullptr) {
    *maxSubKeyLength = longest(open->children, [](const auto& c) { return c->name.size(); });
  }
  if (values != nullptr) {
    *values = static_cast<DWORD>(open->values.size());
  }
  if (maxValueNameLength != nullptr) {
    *maxValueNameLength = longest(open->values, [](const Value& v) { return v.name.size(); });
  }
  if (maxValueLength != nullptr) {
    *maxValueLength = longest(open->values, [](const Value& v) { return v.data.size(); });
  }
  if (lastWriteTime != nullptr) {
    *lastWriteTime = FILETIME{0, 0};
  }
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  const Call call("RegCloseKey");
  // Closing a key that is open does not fail: no error is injected here.
  Store& store = TheStore();
  if (store.roots.contains(Store::Id(key))) {
    return ERROR_SUCCESS;
  }
  return store.handles.erase(Store::Id(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// A path is followed through every link, as RegOpenKeyA follows it: a link
// named last deletes the key it points to, and stays. The empty path deletes
// the key of the handle itself, a link opened as such too (as Wine does).
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  const Call call("RegDeleteKeyA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  if (subKey == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<Key> target;
  if (LSTATUS status = Live(key, target); status != ERROR_SUCCESS) {
    return status;
  }
  if (*subKey != '\0') {
    HKEY child = nullptr;
    if (LSTATUS status = OpenOrCreate(key, Widened(subKey), &child, Walk{});
        status != ERROR_SUCCESS) {
      return status;
    }
    target = TheStore().Resolve(child);
    TheStore().handles.erase(Store::Id(child));
  }
  if (target->parent == nullptr || !target->children.empty() ||
      TheStore().Refused(RegistryOperation::Delete, *target)) {
    return ERROR_ACCESS_DENIED;
  }
  auto& siblings = target->parent->children;
  siblings.erase(std::find(siblings.begin(), siblings.end(), target));
  Erase(*target);
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  const Call call("RegDeleteValueA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  const std::wstring name = Widened(valueName);
  auto it = std::find_if(open->values.begin(), open->values.end(),
                         [&](const Value& v) { return SameName(v.name, name); });
  if (it == open->values.end()) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (TheStore().Refused(RegistryOperation::SetValue, *open, name)) {
    return ERROR_ACCESS_DENIED;
  }
  open->values.erase(it);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
  const Call call("RegQueryValueExA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return QueryValue(key, Widened(valueName), reserved, type, data, dataSize, false);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
  const Call call("RegQueryValueExW");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return QueryValue(key, Taken(valueName), reserved, type, data, dataSize, true);
}

LSTATUS RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* dataSize) {
  const Call call("RegQueryValueA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  HKEY open = key;
  if (subKey != nullptr && *subKey != '\0') {
    if (LSTATUS status = RegOpenKeyA(key, subKey, &open); status != ERROR_SUCCESS) {
      return status;
    }
  }
  LSTATUS status = RegQueryValueExA(open, "", nullptr, nullptr, reinterpret_cast<LPBYTE>(data),
                                    reinterpret_cast<LPDWORD>(dataSize));
  // A key without a default value answers with the empty text.
  if (status == ERROR_FILE_NOT_FOUND) {
    if (data != nullptr) {
      *data = '\0';
    }
    if (dataSize != nullptr) {
      *dataSize = 1;
    }
    status = ERROR_SUCCESS;
  }
  if (open != key) {
    RegCloseKey(open);
  }
  return status;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
  const Call call("RegSetValueExA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return SetValue(key, Widened(valueName), reserved, type, data, dataSize, false);
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
  const Call call("RegSetValueExW");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return SetValue(key, Taken(valueName), reserved, type, data, dataSize, true);
}

LSTATUS RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD /*dataSize*/) {
  const Call call("RegSetValueA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  if (type != REG_SZ || data == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  HKEY open = key;
  if (subKey != nullptr && *subKey != '\0') {
    if (LSTATUS status = RegCreateKeyA(key, subKey, &open); status != ERROR_SUCCESS) {
      return status;
    }
  }
  // The size given is ignored: the text and its terminator are stored.
  LSTATUS status = RegSetValueExA(open, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                  static_cast<DWORD>(std::strlen(data) + 1));
  if (open != key) {
    RegCloseKey(open);
  }
  return status;
}

LSTATUS RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
  const Call call("RegEnumKeyA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  if (index >= open->children.size()) {
    return ERROR_NO_MORE_ITEMS;
  }
  const std::string childName = ToAnsi(open->children[index]->name);
  if (name == nullptr || childName.size() + 1 > nameSize) {
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, childName.c_str(), childName.size() + 1);
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPWSTR /*keyClass*/, LPDWORD classSize, PFILETIME lastWriteTime) {
  const Call call("RegEnumKeyExW");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  if (name == nullptr || nameSize == nullptr || reserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  if (index >= open->children.size()) {
    return ERROR_NO_MORE_ITEMS;
  }
  const std::wstring& childName = open->children[index]->name;
  if (childName.size() + 1 > *nameSize) {
    return ERROR_MORE_DATA;
  }
  std::copy(childName.begin(), childName.end(), name);
  name[childName.size()] = L'\0';
  *nameSize = static_cast<DWORD>(childName.size());
  if (classSize != nullptr) {
    *classSize = 0;
  }
  if (lastWriteTime != nullptr) {
    *lastWriteTime = FILETIME{0, 0};
  }
  return ERROR_SUCCESS;
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  const Call call("RegEnumValueA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return EnumValue(
      key, index, name, nameSize, reserved, type, data, dataSize,
      [](const Value& value) { return std::pair(ToAnsi(value.name), AnsiData(value)); });
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  const Call call("RegEnumValueW");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return EnumValue(key, index, name, nameSize, reserved, type, data, dataSize,
                   [](const Value& value) { return std::pair(value.name, value.data); });
}
