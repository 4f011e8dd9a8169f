// In-memory registry with the observable behaviour of the Win32 ANSI calls:
// return codes, reported sizes, case-insensitive names, subkeys enumerated
// in sorted order, handles that outlive the deletion of their key.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fake/fake_registry.h"
#include "platform/win32_api.h"

namespace {

// Names compare as the registry compares them: without regard to case, also
// for the letters beyond ASCII of the substitute's ANSI code page, 1252.
char Lower(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7)) {
    return static_cast<char>(byte + 0x20);
  }
  switch (byte) {
    case 0x8A:  // S, Oe and Z with caron or ligature
    case 0x8C:
    case 0x8E:
      return static_cast<char>(byte + 0x10);
    case 0x9F:  // Y with diaeresis
      return static_cast<char>(0xFF);
    default:
      return c;
  }
}

std::string Folded(std::string_view text) {
  std::string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), Lower);
  return folded;
}

// Compared letter by letter, without a folded copy: a key may have
// thousands of subkeys, each looked up by name.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool FoldedLess(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(Lower(x)) < static_cast<unsigned char>(Lower(y));
  });
}

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;
  std::uintptr_t root = 0;
  Key* parent = nullptr;
  std::vector<std::shared_ptr<Key>> children;  // sorted by folded name
  std::vector<Value> values;                   // in order of creation
  bool deleted = false;
  bool isVolatile = false;  // gone at the next start; holds volatile subkeys only

  // Children stay sorted by folded name: a key may have thousands.
  [[nodiscard]] auto Place(std::string_view childName) const {
    return std::lower_bound(
        children.begin(), children.end(), childName,
        [](const auto& child, std::string_view name) { return FoldedLess(child->name, name); });
  }
  std::shared_ptr<Key> Child(std::string_view childName) const {
    auto it = Place(childName);
    return it == children.end() || !SameName((*it)->name, childName) ? nullptr : *it;
  }
  Value* FindValue(std::string_view valueName) {
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const Value& v) { return SameName(v.name, valueName); });
    return it == values.end() ? nullptr : &*it;
  }
  // Root and path, folded, as refusals name them.
  std::string Path() const {
    std::vector<const Key*> chain;
    for (const Key* k = this; k->parent != nullptr; k = k->parent) {
      chain.push_back(k);
    }
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      path += path.empty() ? "" : "\\";
      path += Folded((*it)->name);
    }
    return path;
  }
};

struct Refusal {
  platform::fake::RegistryOperation operation;
  std::uintptr_t root;
  std::string path;
  std::optional<std::string> valueName;  // of a SetValue refusal: this value only
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

  HKEY NewHandle(std::shared_ptr<Key> key) {
    std::uintptr_t id = nextHandle;
    nextHandle += 4;
    handles[id] = std::move(key);
    return reinterpret_cast<HKEY>(id);  // NOLINT(performance-no-int-to-ptr)
  }

  bool Refused(platform::fake::RegistryOperation operation, const Key& key,
               std::string_view valueName = {}) const {
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

// Splits a relative path into key names. A leading backslash is refused as
// Windows does; backslashes in a row count as one, and a trailing one is
// tolerated.
bool SplitPath(std::string_view path, std::vector<std::string>& names) {
  if (!path.empty() && path.front() == '\\') {
    return false;
  }
  while (!path.empty()) {
    std::size_t cut = path.find('\\');
    std::string_view name = path.substr(0, cut);
    if (!name.empty()) {
      names.emplace_back(name);
    }
    path = cut == std::string_view::npos ? std::string_view{} : path.substr(cut + 1);
  }
  return true;
}

using platform::fake::RegistryOperation;

// Creates what is missing when `create`, volatile or not as `isVolatile`
// says; a volatile key refuses a child that is not.
LSTATUS OpenOrCreate(HKEY parentHandle, LPCSTR subKey, PHKEY result, bool create,
                     bool* created = nullptr, bool isVolatile = false) {
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
  if (subKey != nullptr && std::strlen(subKey) > 260) {
    return ERROR_MORE_DATA;
  }
  std::vector<std::string> names;
  if (!SplitPath(subKey == nullptr ? "" : subKey, names)) {
    return ERROR_BAD_PATHNAME;
  }
  if (key->deleted) {
    return ERROR_KEY_DELETED;
  }
  for (const std::string& name : names) {
    std::shared_ptr<Key> child = key->Child(name);
    if (!child) {
      if (!create) {
        return ERROR_FILE_NOT_FOUND;
      }
      if (key->isVolatile && !isVolatile) {
        return ERROR_CHILD_MUST_BE_VOLATILE;
      }
      child = std::make_shared<Key>();
      child->isVolatile = isVolatile;
      child->name = name;
      child->root = key->root;
      child->parent = key.get();
      if (store.Refused(RegistryOperation::Create, *child)) {
        return ERROR_ACCESS_DENIED;
      }
      key->children.insert(key->Place(name), child);
      if (created != nullptr) {
        *created = true;
      }
    }
    key = child;
  }
  if (store.Refused(create ? RegistryOperation::Create : RegistryOperation::Open, *key)) {
    return ERROR_ACCESS_DENIED;
  }
  *result = store.NewHandle(key);
  return ERROR_SUCCESS;
}

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

void Assign(Key& key, std::string_view name, DWORD type, std::vector<BYTE> data) {
  if (Value* existing = key.FindValue(name)) {
    existing->type = type;
    existing->data = std::move(data);
    return;
  }
  key.values.push_back(Value{std::string(name), type, std::move(data)});
}

}  // namespace

namespace platform::fake {

void ResetRegistry() { TheStore().Reset(); }

void RefuseRegistry(RegistryOperation operation, HKEY root, std::string_view path,
                    std::optional<std::string_view> valueName) {
  TheStore().refusals.push_back(
      Refusal{operation, reinterpret_cast<std::uintptr_t>(root), Folded(path),
              valueName ? std::optional<std::string>(*valueName) : std::nullopt});
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
  return OpenOrCreate(key, subKey, result, false);
}

LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  const Call call("RegCreateKeyA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  return OpenOrCreate(key, subKey, result, true);
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR /*keyClass*/, DWORD options,
                        REGSAM /*access*/, void* /*security*/, PHKEY result, LPDWORD disposition) {
  const Call call("RegCreateKeyExA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
  if (reserved != 0 || subKey == nullptr ||
      (options != REG_OPTION_NON_VOLATILE && options != REG_OPTION_VOLATILE)) {
    return ERROR_INVALID_PARAMETER;
  }
  bool created = false;
  LSTATUS status =
      OpenOrCreate(key, subKey, result, true, &created, options == REG_OPTION_VOLATILE);
  if (status == ERROR_SUCCESS && disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return status;
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
    if (LSTATUS status = RegOpenKeyA(key, subKey, &child); status != ERROR_SUCCESS) {
      return status;
    }
    target = TheStore().Resolve(child);
    RegCloseKey(child);
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
  std::string_view name = valueName == nullptr ? "" : valueName;
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
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  const Value* value = open->FindValue(valueName == nullptr ? "" : valueName);
  if (value == nullptr) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (type != nullptr) {
    *type = value->type;
  }
  return CopyOut(value->data, data, dataSize);
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
  if (reserved != 0 || (data == nullptr && dataSize != 0)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<Key> open;
  if (LSTATUS status = Live(key, open); status != ERROR_SUCCESS) {
    return status;
  }
  if (TheStore().Refused(RegistryOperation::SetValue, *open,
                         valueName == nullptr ? "" : valueName)) {
    return ERROR_ACCESS_DENIED;
  }
  // As Windows does: a text whose terminator was left out of the size gets
  // it back when the byte after the data is zero.
  bool stringType = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (stringType && dataSize > 0 && data[dataSize - 1] != 0 && data[dataSize] == 0) {
    ++dataSize;
  }
  std::vector<BYTE> bytes(data, data + dataSize);
  Assign(*open, valueName == nullptr ? "" : valueName, type, std::move(bytes));
  return ERROR_SUCCESS;
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
  const std::string& childName = open->children[index]->name;
  if (name == nullptr || childName.size() + 1 > nameSize) {
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, childName.c_str(), childName.size() + 1);
  return ERROR_SUCCESS;
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  const Call call("RegEnumValueA");
  if (LSTATUS injected = call.Injected(); injected != ERROR_SUCCESS) {
    return injected;
  }
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
  if (value.name.size() + 1 > *nameSize) {
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameSize = static_cast<DWORD>(value.name.size());
  if (type != nullptr) {
    *type = value.type;
  }
  return CopyOut(value.data, data, dataSize);
}
