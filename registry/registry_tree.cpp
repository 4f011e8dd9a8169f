// Copying and deleting whole key trees, members of Registry.
#include <algorithm>
#include <array>
#include <vector>

#include "registry/registry.h"

namespace registry {
namespace {

// Names of values and subkeys up to 255 bytes; a longer one ends its key's enumeration.
constexpr DWORD kNameCapacity = 256;

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

}  // namespace

// The names of a key's subkeys at every depth. The copy walks this list,
// taken before it writes anything, so that it cannot come upon what it
// writes: a target inside its source, however the path is spelled (another
// case, doubled backslashes, a root that is a link into another), gets the
// tree as it stood, and the copy ends.
struct KeyNode {
  std::string name;
  std::vector<KeyNode> subkeys;
};

namespace {

std::vector<KeyNode> SubkeysOf(HKEY key) {
  std::vector<KeyNode> subkeys;
  std::array<char, kNameCapacity> name{};
  for (DWORD index = 0;; ++index) {
    name.fill('\0');
    if (RegEnumKeyA(key, index, name.data(), kNameCapacity) != ERROR_SUCCESS) {
      break;  // no more subkeys, or a name too long: the rest of this key is not copied
    }
    subkeys.push_back({name.data(), {}});
  }
  for (KeyNode& subkey : subkeys) {
    HKEY opened = nullptr;
    if (RegOpenKeyA(key, subkey.name.c_str(), &opened) == ERROR_SUCCESS) {
      const BranchKey child(key, opened);
      subkey.subkeys = SubkeysOf(child.get());
    }
  }
  return subkeys;
}

}  // namespace

void Registry::CopyTree(std::string_view SourceRoot, std::string_view SourceName,
                        std::string_view TargetRoot, std::string_view TargetName) {
  const HKEY saved = root_;
  ParseRootName(SourceRoot);
  const HKEY sourceRoot = root_;
  ParseRootName(TargetRoot);  // the target root stays in force during the copy
  const std::string source(SourceName);
  HKEY opened = nullptr;
  if (RegOpenKeyA(sourceRoot, source.c_str(), &opened) == ERROR_SUCCESS) {
    std::vector<KeyNode> subkeys;
    {
      const BranchKey sourceKey(sourceRoot, opened);
      subkeys = SubkeysOf(sourceKey.get());
    }
    CopyBranch(sourceRoot, source, std::string(TargetName), nullptr, subkeys);
  }
  root_ = saved;
}

Boolean Registry::CopyBranch(HKEY parent, const std::string& source, const std::string& target,
                             HKEY targetParent, const std::vector<KeyNode>& subkeys) {
  HKEY opened = nullptr;
  if (RegOpenKeyA(parent, source.c_str(), &opened) != ERROR_SUCCESS) {
    return kFalse;
  }
  const BranchKey sourceKey(parent, opened);
  platform::UniqueKey targetKey;
  HKEY created = nullptr;
  // The same key as the whole target path below the root names, found from
  // the parent's target key when there is one: the store need not walk the
  // whole path again at every level.
  LSTATUS status = targetParent != nullptr ? RegCreateKeyA(targetParent, source.c_str(), &created)
                                           : RegCreateKeyA(root_, target.c_str(), &created);
  if (status == ERROR_SUCCESS) {
    targetKey.reset(created);
    CopyValues(sourceKey.get(), targetKey.get());
  }
  // Subkeys are tried also when the target could not be had: theirs may be.
  // A child's path is this path, "\" and its name; where that is no valid
  // path (this one empty or ending in "\") the store decides, from the root.
  const bool validChildPaths = !target.empty() && target.back() != '\\';
  HKEY childParent = validChildPaths ? targetKey.get() : nullptr;
  for (const KeyNode& child : subkeys) {
    std::string childPath = target;
    childPath += '\\';
    childPath += child.name;
    CopyBranch(sourceKey.get(), child.name, childPath, childParent, child.subkeys);
  }
  return kTrue;
}

void Registry::CopyValues(HKEY source, HKEY target) {
  // Most values fit this buffer, so that one enumeration call brings the
  // name, the type and the data; a larger one is probed and read again.
  std::vector<BYTE> buffer(4096);
  for (DWORD index = 0;; ++index) {
    std::array<char, kNameCapacity + 1> name{};
    DWORD nameLength = kNameCapacity;
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(buffer.size());
    LSTATUS status = RegEnumValueA(source, index, name.data(), &nameLength, nullptr, &type,
                                   buffer.data(), &size);
    std::vector<BYTE> data;
    if (status == ERROR_SUCCESS) {
      data.assign(buffer.begin(), buffer.begin() + size);
    } else if (status == ERROR_MORE_DATA) {
      // The name may be too long (which ends this key's values) or the data large.
      nameLength = kNameCapacity;
      if (RegEnumValueA(source, index, name.data(), &nameLength, nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS) {
        break;
      }
      data.resize(size);
      DWORD capacity = nameLength + 1;
      DWORD dataSize = size;
      RegEnumValueA(source, index, name.data(), &capacity, nullptr, nullptr,
                    data.empty() ? nullptr : data.data(), &dataSize);
    } else {
      break;  // no more values
    }
    CopyValue(target, std::string(name.data(), nameLength), type, std::move(data));
  }
}

void Registry::CopyValue(HKEY target, const std::string& name, DWORD type, std::vector<BYTE> data) {
  const auto size = static_cast<DWORD>(data.size());
  if (name.empty() && type == REG_SZ) {
    // The default value, written through the key-default call as text.
    std::string text(data.begin(), std::find(data.begin(), data.end(), BYTE{0}));
    RegSetValueA(target, "", REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    return;
  }
  // Any other default value is copied with its own type and bytes, as a
  // named value of that type is: as text it would arrive garbled. Of the
  // types a named value skips, a default value keeps all it has.
  const bool copiedType =
      type == REG_SZ || type == REG_BINARY || type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN;
  if (name.empty() && !copiedType) {
    RegSetValueExA(target, "", 0, type, data.empty() ? nullptr : data.data(), size);
    return;
  }
  switch (type) {
    case REG_SZ:
      if (size == 0) {
        RegSetValueExA(target, name.c_str(), 0, REG_SZ, nullptr, 0);
      } else {
        data.push_back(0);  // one more terminator, for a text stored without one
        RegSetValueExA(target, name.c_str(), 0, REG_SZ, data.data(), size + 1);
      }
      break;
    case REG_BINARY:
      RegSetValueExA(target, name.c_str(), 0, REG_BINARY, data.empty() ? nullptr : data.data(),
                     size);
      break;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      // At most four bytes make the number; a longer value gives its first four.
      RegSetValueExA(target, name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                     std::min<DWORD>(size, 4));
      break;
    default:
      break;  // other types are not copied
  }
}

void Registry::DeleteTree(std::string_view RootName, std::string_view DelName) {
  if (DelName.empty()) {
    return;  // that would be the contents of a whole root
  }
  const HKEY saved = root_;
  ParseRootName(RootName);
  DeleteBranch(root_, std::string(DelName));
  root_ = saved;
}

Boolean Registry::DeleteBranch(HKEY parent, const std::string& path) {
  HKEY opened = nullptr;
  if (RegOpenKeyA(parent, path.c_str(), &opened) != ERROR_SUCCESS) {
    return kFalse;
  }
  const BranchKey key(parent, opened);
  if (RegDeleteKeyA(key.get(), "") == ERROR_SUCCESS) {
    return kTrue;
  }
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
