// Copying and deleting whole key trees, members of Registry.
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "registry/registry.h"

namespace registry {
namespace {

// Names of values and subkeys up to 255 bytes; a longer one ends its key's enumeration.
constexpr DWORD kNameCapacity = 256;
// A count the store could not tell: enumerate until it says there is no more.
constexpr DWORD kUntilTheEnd = 0xFFFFFFFF;

// An opened key, closed at the end of its level. RegOpenKeyA hands back the
// parent itself for an empty path; that one belongs to the level above.
class BranchKey {
 public:
  BranchKey(HKEY parent, HKEY key) : key_(key == parent ? nullptr : key), raw_(key) {}
  [[nodiscard]] HKEY get() const { return raw_; }

 private:
  platform::UniqueKey key_;
  HKEY raw_;
};

struct CopiedValue {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Named values of these types are copied; a key's default value of any type.
bool Copied(const std::string& name, DWORD type) {
  return name.empty() || type == REG_SZ || type == REG_BINARY || type == REG_DWORD ||
         type == REG_DWORD_BIG_ENDIAN;
}

}  // namespace

struct KeyNode {
  std::string name;
  std::vector<CopiedValue> values;
  std::vector<KeyNode> subkeys;
};

namespace {

// Reads `count` values of `key` into `values`. False when one could not be
// read (a name above 255 bytes, or any failure but the end) or will not
// arrive as it is: a named value of another type is skipped, and a number
// of more than four bytes arrives as its first four.
bool ReadValues(HKEY key, DWORD count, std::vector<CopiedValue>& values) {
  // Most values fit this buffer, so that one enumeration call brings the
  // name, the type and the data; a larger one is probed and read again.
  std::vector<BYTE> buffer(4096);
  std::array<char, kNameCapacity + 1> name{};
  bool complete = true;
  for (DWORD index = 0; index < count; ++index) {
    DWORD nameLength = kNameCapacity;
    DWORD type = REG_NONE;
    auto size = static_cast<DWORD>(buffer.size());
    LSTATUS status =
        RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, buffer.data(), &size);
    if (status == ERROR_MORE_DATA) {
      // The name may be too long (which ends this key's values) or the data large.
      nameLength = kNameCapacity;
      status = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, nullptr, &size);
      if (status == ERROR_SUCCESS) {
        buffer.resize(std::max<std::size_t>(buffer.size(), size));
        DWORD capacity = nameLength + 1;
        status =
            RegEnumValueA(key, index, name.data(), &capacity, nullptr, &type, buffer.data(), &size);
      }
    }
    if (status != ERROR_SUCCESS) {
      return complete && status == ERROR_NO_MORE_ITEMS;
    }
    std::string valueName(name.data(), nameLength);
    if (!Copied(valueName, type)) {
      complete = false;
      continue;
    }
    if ((type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) && size > 4) {
      complete = false;
    }
    values.push_back({std::move(valueName), type, {buffer.begin(), buffer.begin() + size}});
  }
  return complete;
}

// Reads the open `key` into `node`: its values, then each subkey, opened
// once, at every depth. False when something could not be read; what could
// is kept.
bool ReadBranch(HKEY key, KeyNode& node) {
  // One question for both counts spares the failing call that would end
  // each enumeration.
  DWORD subkeyCount = kUntilTheEnd;
  DWORD valueCount = kUntilTheEnd;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, &valueCount,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    subkeyCount = kUntilTheEnd;
    valueCount = kUntilTheEnd;
  }
  bool complete = ReadValues(key, valueCount, node.values);
  std::array<char, kNameCapacity> name{};
  for (DWORD index = 0; index < subkeyCount; ++index) {
    name.fill('\0');
    LSTATUS status = RegEnumKeyA(key, index, name.data(), kNameCapacity);
    if (status != ERROR_SUCCESS) {
      complete = complete && status == ERROR_NO_MORE_ITEMS;
      break;
    }
    HKEY opened = nullptr;
    if (RegOpenKeyA(key, name.data(), &opened) != ERROR_SUCCESS) {
      complete = false;  // its branch is left out; the others go on
      continue;
    }
    const BranchKey child(key, opened);
    KeyNode& subkey = node.subkeys.emplace_back();
    subkey.name = name.data();
    complete = ReadBranch(child.get(), subkey) && complete;
  }
  return complete;
}

LSTATUS WriteValue(HKEY target, const CopiedValue& value) {
  const std::string& name = value.name;
  const std::vector<BYTE>& data = value.data;
  const auto size = static_cast<DWORD>(data.size());
  const BYTE* bytes = data.empty() ? nullptr : data.data();
  if (name.empty() && value.type == REG_SZ) {
    // The default value, written through the key-default call as text.
    std::string text(data.begin(), std::find(data.begin(), data.end(), BYTE{0}));
    return RegSetValueA(target, "", REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }
  switch (value.type) {
    case REG_SZ: {
      if (size == 0) {
        return RegSetValueExA(target, name.c_str(), 0, REG_SZ, nullptr, 0);
      }
      std::vector<BYTE> text(data);
      text.push_back(0);  // one more terminator, for a text stored without one
      return RegSetValueExA(target, name.c_str(), 0, REG_SZ, text.data(), size + 1);
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      // At most four bytes make the number; a longer value gives its first
      // four. A default value of these types is written as it is, too.
      return RegSetValueExA(target, name.c_str(), 0, value.type, bytes, std::min<DWORD>(size, 4));
    default:
      // Binary, and a default value of any other type with its own type and
      // bytes: as text it would arrive garbled.
      return RegSetValueExA(target, name.c_str(), 0, value.type, bytes, size);
  }
}

// What a value of the target was before the copy. Only "not found" means
// it was absent: any other failure leaves its state unknown.
struct EarlierValue {
  LSTATUS status = ERROR_SUCCESS;
  CopiedValue value;
};

EarlierValue Earlier(HKEY target, const std::string& name) {
  EarlierValue earlier{ERROR_SUCCESS, {name, REG_NONE, std::vector<BYTE>(256)}};
  CopiedValue& value = earlier.value;
  auto size = static_cast<DWORD>(value.data.size());
  earlier.status =
      RegQueryValueExA(target, name.c_str(), nullptr, &value.type, value.data.data(), &size);
  if (earlier.status == ERROR_MORE_DATA) {
    value.data.resize(size);
    earlier.status =
        RegQueryValueExA(target, name.c_str(), nullptr, &value.type, value.data.data(), &size);
  }
  value.data.resize(earlier.status == ERROR_SUCCESS ? size : 0);
  return earlier;
}

// Writes `values` into `target`, but none whose earlier state could not be
// read: it could not be given back. When one cannot be written, those
// written before it get back what they were (`existing`: whether the key
// was there before; a new key had none). False when not all were written.
bool WriteValues(HKEY target, const std::vector<CopiedValue>& values, bool existing) {
  // Only a key that was there before the copy needs its earlier values
  // kept, for the case a write fails.
  std::vector<EarlierValue> earlier;
  bool complete = true;
  if (existing) {
    earlier.reserve(values.size());
    for (const CopiedValue& value : values) {
      earlier.push_back(Earlier(target, value.name));
      const LSTATUS status = earlier.back().status;
      complete = complete && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
    }
  }
  auto known = [&](std::size_t index) {
    return !existing || earlier[index].status == ERROR_SUCCESS ||
           earlier[index].status == ERROR_FILE_NOT_FOUND;
  };
  for (std::size_t written = 0; written < values.size(); ++written) {
    if (!known(written) || WriteValue(target, values[written]) == ERROR_SUCCESS) {
      continue;
    }
    for (std::size_t undo = 0; undo < written; ++undo) {
      if (!known(undo)) {
        continue;  // never written
      }
      if (existing && earlier[undo].status == ERROR_SUCCESS) {
        const CopiedValue& before = earlier[undo].value;
        RegSetValueExA(target, before.name.c_str(), 0, before.type,
                       before.data.empty() ? nullptr : before.data.data(),
                       static_cast<DWORD>(before.data.size()));
      } else {
        RegDeleteValueA(target, values[undo].name.c_str());
      }
    }
    return false;
  }
  return complete;
}

// Puts the object's root back however a tree operation ends.
class RestoredRoot {
 public:
  explicit RestoredRoot(HKEY& root) : root_(root), saved_(root) {}
  RestoredRoot(const RestoredRoot&) = delete;
  RestoredRoot& operator=(const RestoredRoot&) = delete;
  ~RestoredRoot() { root_ = saved_; }

 private:
  HKEY& root_;
  HKEY saved_;
};

}  // namespace

Boolean Registry::CopyTree(std::string_view SourceRoot, std::string_view SourceName,
                           std::string_view TargetRoot, std::string_view TargetName) {
  const RestoredRoot restored(root_);
  ParseRootName(SourceRoot);
  const HKEY sourceRoot = root_;
  ParseRootName(TargetRoot);  // the target root stays in force during the copy
  const std::string source(SourceName);
  HKEY opened = nullptr;
  if (RegOpenKeyA(sourceRoot, source.c_str(), &opened) != ERROR_SUCCESS) {
    return kFalse;
  }
  KeyNode tree;
  bool complete = false;
  {
    const BranchKey sourceKey(sourceRoot, opened);
    complete = ReadBranch(sourceKey.get(), tree);
  }
  // Nothing is written before the whole source has been read.
  const std::string target(TargetName);
  complete = CopyBranch(root_, target, target, tree) == kTrue && complete;
  return complete ? kTrue : kFalse;
}

Boolean Registry::CopyBranch(HKEY parent, const std::string& path, const std::string& full,
                             const KeyNode& node) {
  bool complete = false;
  platform::UniqueKey targetKey;
  HKEY created = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, MAXIMUM_ALLOWED, nullptr, &created,
                      &disposition) == ERROR_SUCCESS) {
    targetKey.reset(created);
    complete = WriteValues(created, node.values, disposition != REG_CREATED_NEW_KEY);
  }
  // Subkeys are tried also when the target could not be had: theirs may be.
  // Each is made below this target key, which spares the store walking the
  // whole path again. Without that key, or where this path would make no
  // valid child path (empty, or ending in "\"), the child's whole path is
  // this key's whole path, "\" and its name, and the store decides, from
  // the root: never a path that does not lie below the target.
  const bool byHandle = targetKey && !full.empty() && full.back() != '\\';
  for (const KeyNode& child : node.subkeys) {
    const std::string childFull = full + "\\" + child.name;
    const Boolean copied = byHandle ? CopyBranch(targetKey.get(), child.name, childFull, child)
                                    : CopyBranch(root_, childFull, childFull, child);
    complete = copied == kTrue && complete;
  }
  return complete ? kTrue : kFalse;
}

Boolean Registry::DeleteTree(std::string_view RootName, std::string_view DelName) {
  if (DelName.empty()) {
    return kFalse;  // that would be the contents of a whole root
  }
  const RestoredRoot restored(root_);
  ParseRootName(RootName);
  return DeleteBranch(root_, std::string(DelName));
}

Boolean Registry::DeleteBranch(HKEY parent, const std::string& path) {
  // Most keys of a tree have no subkeys: deleted through the parent, such a
  // key takes a single call and is never opened by us.
  const LSTATUS first = RegDeleteKeyA(parent, path.c_str());
  if (first == ERROR_SUCCESS) {
    return kTrue;
  }
  HKEY opened = nullptr;
  if (first == ERROR_FILE_NOT_FOUND ||
      RegOpenKeyA(parent, path.c_str(), &opened) != ERROR_SUCCESS) {
    return kFalse;
  }
  const BranchKey key(parent, opened);
  // A store that keeps keys with subkeys: empty it from the first subkey on.
  std::array<char, kNameCapacity> name{};
  while (RegEnumKeyA(key.get(), 0, name.data(), kNameCapacity) == ERROR_SUCCESS) {
    if (DeleteBranch(key.get(), std::string(name.data())) == kFalse) {
      break;
    }
  }
  return RegDeleteKeyA(key.get(), "") == ERROR_SUCCESS ? kTrue : kFalse;
}

}  // namespace registry
