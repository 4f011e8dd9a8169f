// The tree copy's second half: writing the snapshot to the target, never
// through a link, giving a key its earlier values back when not all of its
// new ones could be written.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"
#include "registry/registry_tree.h"

namespace registry {
namespace {

using Record = Snapshot::Record;

LSTATUS WriteValue(HKEY target, const Record& value) {
  const char* name = value.name.data();
  const BYTE* data = value.data;
  const DWORD size = value.size;
  if (value.name.empty() && value.type == REG_SZ) {
    // The default value, written through the key-default call as text.
    const std::string text(data, std::find(data, data + size, BYTE{0}));
    return RegSetValueA(target, "", REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }
  switch (value.type) {
    case REG_SZ: {
      if (size == 0) {
        return RegSetValueExA(target, name, 0, REG_SZ, nullptr, 0);
      }
      std::vector<BYTE> text(data, data + size);
      text.push_back(0);  // one more terminator, for a text stored without one
      return RegSetValueExA(target, name, 0, REG_SZ, text.data(), size + 1);
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      // At most four bytes make the number; a longer value gives its first
      // four. A default value of these types is written as it is, too.
      return RegSetValueExA(target, name, 0, value.type, size == 0 ? nullptr : data,
                            std::min<DWORD>(size, 4));
    default: {
      // Binary, and a default value of any other type with its own type and
      // bytes: as text it would arrive garbled. The store looks at the byte
      // after a text: a zero there would lengthen one stored without its end.
      std::vector<BYTE> padded(data, data + size);
      padded.push_back(0xFF);
      return RegSetValueExA(target, name, 0, value.type, padded.data(), size);
    }
  }
}

// What a value of the target was before the copy, read and given back
// through the wide calls, so that a text the code page cannot spell comes
// back as it was. Only "not found" means it was absent: any other failure
// leaves its state unknown.
struct EarlierValue {
  LSTATUS status = ERROR_SUCCESS;
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

EarlierValue Earlier(HKEY target, std::string_view name) {
  EarlierValue earlier{ERROR_SUCCESS, std::wstring(name.size(), L'\0'), REG_NONE,
                       std::vector<BYTE>(256)};
  // The name is spelt exactly, so it widens back to itself.
  earlier.name.resize(static_cast<std::size_t>(
      name.empty() ? 0
                   : MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                         earlier.name.data(), static_cast<int>(name.size()))));
  auto size = static_cast<DWORD>(earlier.data.size());
  earlier.status = RegQueryValueExW(target, earlier.name.c_str(), nullptr, &earlier.type,
                                    earlier.data.data(), &size);
  if (earlier.status == ERROR_MORE_DATA) {
    earlier.data.resize(size);
    earlier.status = RegQueryValueExW(target, earlier.name.c_str(), nullptr, &earlier.type,
                                      earlier.data.data(), &size);
  }
  earlier.data.resize(earlier.status == ERROR_SUCCESS ? size : 0);
  return earlier;
}

// Writes `values` into `target`, but none whose earlier state could not be
// read: it could not be given back. When one cannot be written, those
// written before it get back what they were (`existing`: whether the key
// was there before; a new key had none). False when not all were written.
bool WriteValues(HKEY target, const std::vector<Record>& values, bool existing) {
  // Only a key that was there before the copy needs its earlier values
  // kept, for the case a write fails.
  std::vector<EarlierValue> earlier;
  bool complete = true;
  if (existing) {
    earlier.reserve(values.size());
    for (const Record& value : values) {
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
        const EarlierValue& before = earlier[undo];
        // The store looks at the character after a text: a zero there would
        // lengthen one stored without its end.
        std::vector<BYTE> padded(before.data);
        padded.insert(padded.end(), {0xFF, 0xFF});
        RegSetValueExW(target, before.name.c_str(), 0, before.type, padded.data(),
                       static_cast<DWORD>(before.data.size()));
      } else {
        RegDeleteValueA(target, values[undo].name.data());
      }
    }
    return false;
  }
  return complete;
}

enum class Reached { Key, Failed, Link };

// Opens or makes the target key `names` below `from`, one name at a time,
// each opened as the link it may be: a link ends the walk, and nothing is
// made through it. Without `from`, the first name lies below `target`, the
// caller's TargetName below `root`, and no names mean that key itself.
Reached TargetKey(HKEY root, const std::string& target, HKEY from,
                  const std::vector<std::string>& names, platform::UniqueKey& key, bool& existing) {
  HKEY made = nullptr;
  DWORD disposition = 0;
  if (from == nullptr && names.empty()) {
    if (RegCreateKeyExA(root, target.c_str(), 0, nullptr, 0, MAXIMUM_ALLOWED, nullptr, &made,
                        &disposition) != ERROR_SUCCESS) {
      return Reached::Failed;
    }
    key.reset(made);
    existing = disposition != REG_CREATED_NEW_KEY;
    return Reached::Key;
  }
  platform::UniqueKey reached;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool fromRoot = i == 0 && from == nullptr;
    const std::string path = fromRoot ? target + "\\" + names[i] : names[i];
    const HKEY parent = i != 0 ? reached.get() : fromRoot ? root : from;
    // Below a key in hand, a name is the key of that name, in no other view.
    const REGSAM access = fromRoot ? MAXIMUM_ALLOWED : MAXIMUM_ALLOWED | KEY_WOW64_64KEY;
    if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_OPEN_LINK, access, nullptr,
                        &made, &disposition) != ERROR_SUCCESS) {
      return Reached::Failed;
    }
    reached.reset(made);
    existing = disposition != REG_CREATED_NEW_KEY;
    if (existing && MayBeLink(made)) {
      return Reached::Link;
    }
  }
  key = std::move(reached);
  return Reached::Key;
}

// A key of the target being written, and how its subkeys reach theirs.
struct TargetLevel {
  platform::UniqueKey key;  // none where it could not be had
  HKEY from = nullptr;      // the nearest key above that was had
  std::vector<std::string> names;
  bool existing = false;
  bool byHandle = false;  // its subkeys are made below its own handle
  bool skipped = false;   // a link of the target: nothing is written below it
};

}  // namespace

Boolean Registry::CopyBranch(const std::string& target, const Snapshot& tree) {
  bool complete = true;
  std::vector<TargetLevel> levels;
  std::vector<Record> values;
  // A key's values follow its name; they are written before its first subkey.
  auto writeValues = [&] {
    if (!values.empty() && !levels.empty() && levels.back().key) {
      complete = WriteValues(levels.back().key.get(), values, levels.back().existing) && complete;
    }
    values.clear();
  };
  tree.ForEach([&](const Record& record) {
    if (record.kind == Snapshot::Kind::Value) {
      values.push_back(record);
      return;
    }
    writeValues();
    if (record.kind == Snapshot::Kind::End) {
      levels.pop_back();
      return;
    }
    TargetLevel level;
    const bool top = levels.empty();
    if (!top) {
      // Subkeys are tried also when the target could not be had: theirs may
      // be. Each is made below its parent's key, which spares the store
      // walking the whole path again. Without that key, the walk starts
      // again from the nearest key above that was had.
      const TargetLevel& parent = levels.back();
      level.skipped = parent.skipped;
      level.from = parent.byHandle ? parent.key.get() : parent.from;
      if (!parent.byHandle) {
        level.names = parent.names;
      }
      level.names.emplace_back(record.name);
    }
    if (!level.skipped) {
      switch (TargetKey(root_, target, level.from, level.names, level.key, level.existing)) {
        case Reached::Key:
          break;
        case Reached::Failed:
          complete = false;
          break;
        case Reached::Link:
          level.skipped = true;  // nothing is written through it, nor below what it points to
          complete = false;
          break;
      }
    }
    // Below an empty TargetName or one that ends in "\", a subkey's path is
    // TargetName, "\" and its name, and the store decides: never a path that
    // does not lie below the target.
    level.byHandle = level.key && !(top && (target.empty() || target.back() == '\\'));
    levels.push_back(std::move(level));
  });
  return complete ? kTrue : kFalse;
}

}  // namespace registry
