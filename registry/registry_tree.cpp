// Copying and deleting whole key trees, members of Registry.
#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"

namespace registry {
namespace {

// Names of values and subkeys up to 255 bytes in the code page; a longer one is left out.
constexpr DWORD kNameCapacity = 256;
// The longest value name the registry holds, in characters, and its
// terminator; and room for any key name (Wine takes 256 characters).
constexpr DWORD kValueNameCapacity = 16384;
constexpr DWORD kKeyNameCapacity = 512;
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
  bool link = false;    // a symbolic link, or a key that may be one: left out
  bool listed = false;  // every value was listed
};

namespace {

// `text` in the ANSI code page, as the ANSI calls spell it; `exact` turns
// false unless it widens back to itself.
std::string InCodePage(std::wstring_view text, bool& exact) {
  const auto length = static_cast<int>(text.size());
  std::string ansi(
      static_cast<std::size_t>(length == 0 ? 0
                                           : WideCharToMultiByte(CP_ACP, 0, text.data(), length,
                                                                 nullptr, 0, nullptr, nullptr)),
      '\0');
  std::wstring back(text.size(), L'\0');
  if (!ansi.empty()) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), static_cast<int>(ansi.size()),
                        nullptr, nullptr);
    back.resize(static_cast<std::size_t>(MultiByteToWideChar(
        CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), back.data(), length)));
  }
  exact = exact && back == text;
  return ansi;
}

// The ANSI spelling of a name as the registry holds it, when the code page
// spells it exactly: one that it cannot (a character it lacks becomes "?"
// or a best fit, "ā" becoming "a"; a zero) would name another key or value,
// or none.
std::optional<std::string> Spelled(const WCHAR* name, DWORD length) {
  const std::wstring_view text(name, length);
  // A zero inside a name, which the native calls allow, would end it early.
  if (text.find(WCHAR{0}) != std::wstring_view::npos) {
    return std::nullopt;
  }
  bool exact = true;
  std::string ansi = InCodePage(text, exact);
  return exact ? std::optional(std::move(ansi)) : std::nullopt;
}

// The value that makes a key a symbolic link.
bool IsLinkValue(const WCHAR* name, DWORD length, DWORD type) {
  constexpr std::string_view kLinkValue = "symboliclinkvalue";
  return type == REG_LINK && length == kLinkValue.size() &&
         std::equal(kLinkValue.begin(), kLinkValue.end(), name, [](char letter, WCHAR c) {
           return c < 0x80 && std::tolower(static_cast<unsigned char>(c)) == letter;
         });
}

// Whether an open key is, or may be, a symbolic link: only a key whose
// SymbolicLinkValue is surely missing, or no link's, is not.
bool MayBeLink(HKEY key) {
  DWORD type = REG_NONE;
  const LSTATUS status =
      RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
  return status != ERROR_FILE_NOT_FOUND && !(status == ERROR_SUCCESS && type != REG_LINK);
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A text's data as the ANSI calls hand it out: converted from the UTF-16
// that the wide calls see, two bytes a unit, low byte first. `exact` turns
// false when the code page cannot spell the text, which then arrives with
// the best fit or "?" of each character it lacks.
std::vector<BYTE> AnsiData(const std::vector<BYTE>& wide, DWORD size, bool& exact) {
  std::wstring text(size / 2, L'\0');
  for (std::size_t unit = 0; unit < text.size(); ++unit) {
    text[unit] = static_cast<WCHAR>(wide[2 * unit] | (wide[2 * unit + 1] << 8));
  }
  exact = exact && size % 2 == 0;
  const std::string ansi = InCodePage(text, exact);
  return {ansi.begin(), ansi.end()};
}

// Made once for a whole source tree: most values fit the data buffer, and
// the name buffer holds the longest value name.
struct ReadBuffers {
  std::vector<BYTE> data = std::vector<BYTE>(4096);
  std::vector<WCHAR> name = std::vector<WCHAR>(kValueNameCapacity);
};

// Reads `count` values of `key` into `node`. False when one could not be
// read (any failure but the end, which ends the key's values) or will not
// arrive as it is: a name the code page cannot spell or that is longer than
// 255 bytes in it, and a named value of another type, are left out, and a
// number of more than four bytes arrives as its first four.
bool ReadValues(HKEY key, DWORD count, KeyNode& node, ReadBuffers& buffers) {
  // Names and data come as the registry holds them, in one call for most
  // values; a text's data is then spelled as the ANSI calls spell it.
  std::vector<BYTE>& buffer = buffers.data;
  std::vector<WCHAR>& name = buffers.name;
  bool complete = true;
  for (DWORD index = 0; index < count; ++index) {
    auto nameLength = static_cast<DWORD>(name.size());
    DWORD type = REG_NONE;
    auto size = static_cast<DWORD>(buffer.size());
    LSTATUS status =
        RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, buffer.data(), &size);
    if (status == ERROR_MORE_DATA) {
      buffer.resize(std::max<std::size_t>(buffer.size(), size));
      nameLength = static_cast<DWORD>(name.size());
      size = static_cast<DWORD>(buffer.size());
      status =
          RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, buffer.data(), &size);
    }
    if (status != ERROR_SUCCESS) {
      node.listed = status == ERROR_NO_MORE_ITEMS;
      return complete && node.listed;
    }
    node.link = node.link || IsLinkValue(name.data(), nameLength, type);
    const std::optional<std::string> spelled = Spelled(name.data(), nameLength);
    if (!spelled || spelled->size() >= kNameCapacity || !Copied(*spelled, type)) {
      complete = false;
      continue;
    }
    if ((type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) && size > 4) {
      complete = false;
    }
    node.values.push_back({*spelled, type,
                           IsText(type)
                               ? AnsiData(buffer, size, complete)
                               : std::vector<BYTE>(buffer.begin(), buffer.begin() + size)});
  }
  node.listed = true;
  return complete;
}

// Reads the open `key` into `node`: its values, then each subkey, opened
// once, at every depth. A subkey that is, or may be, a symbolic link is not
// followed and not copied (`node.link`). False when something could not be
// read or is left out; what could is kept.
bool ReadBranch(HKEY key, KeyNode& node, ReadBuffers& buffers, bool below) {
  // One question for both counts spares the failing call that would end
  // each enumeration.
  DWORD subkeyCount = kUntilTheEnd;
  DWORD valueCount = kUntilTheEnd;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, &valueCount,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    subkeyCount = kUntilTheEnd;
    valueCount = kUntilTheEnd;
  }
  bool complete = ReadValues(key, valueCount, node, buffers);
  // Its values tell a link; where they could not all be listed, it is asked.
  if (below && !node.link && !node.listed) {
    node.link = MayBeLink(key);
  }
  if (node.link) {
    return false;
  }
  std::array<WCHAR, kKeyNameCapacity> name{};
  for (DWORD index = 0; index < subkeyCount; ++index) {
    DWORD length = kKeyNameCapacity;
    const LSTATUS status =
        RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
      complete = complete && status == ERROR_NO_MORE_ITEMS;
      break;
    }
    const std::optional<std::string> spelled = Spelled(name.data(), length);
    HKEY opened = nullptr;
    // Opened as a link where it is one, so that the walk never leaves the
    // tree. A name that the ANSI calls cannot take is left out with its
    // branch; the others go on.
    if (!spelled || spelled->size() >= kNameCapacity ||
        RegOpenKeyExA(key, spelled->c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &opened) !=
            ERROR_SUCCESS) {
      complete = false;
      continue;
    }
    const platform::UniqueKey child(opened);
    KeyNode subkey;
    subkey.name = *spelled;
    complete = ReadBranch(child.get(), subkey, buffers, true) && complete;
    if (!subkey.link) {
      node.subkeys.push_back(std::move(subkey));
    }
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
    default: {
      // Binary, and a default value of any other type with its own type and
      // bytes: as text it would arrive garbled. The store looks at the byte
      // after a text: a zero there would lengthen one stored without its end.
      std::vector<BYTE> padded(data);
      padded.push_back(0xFF);
      return RegSetValueExA(target, name.c_str(), 0, value.type, padded.data(), size);
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

EarlierValue Earlier(HKEY target, const std::string& name) {
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
        const EarlierValue& before = earlier[undo];
        // The store looks at the character after a text: a zero there would
        // lengthen one stored without its end.
        std::vector<BYTE> padded(before.data);
        padded.insert(padded.end(), {0xFF, 0xFF});
        RegSetValueExW(target, before.name.c_str(), 0, before.type, padded.data(),
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
  // The caller's own names are resolved as Windows resolves them, through
  // links too; below them, nothing is.
  if (RegOpenKeyA(sourceRoot, source.c_str(), &opened) != ERROR_SUCCESS) {
    return kFalse;
  }
  KeyNode tree;
  bool complete = false;
  {
    const BranchKey sourceKey(sourceRoot, opened);
    ReadBuffers buffers;
    complete = ReadBranch(sourceKey.get(), tree, buffers, false);
  }
  // Nothing is written before the whole source has been read.
  complete = CopyBranch(nullptr, {}, std::string(TargetName), tree) == kTrue && complete;
  return complete ? kTrue : kFalse;
}

namespace {

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
    const bool first = i == 0;
    const std::string path = first && from == nullptr ? target + "\\" + names[i] : names[i];
    const HKEY parent = !first ? reached.get() : from == nullptr ? root : from;
    if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_OPEN_LINK, MAXIMUM_ALLOWED,
                        nullptr, &made, &disposition) != ERROR_SUCCESS) {
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

}  // namespace

Boolean Registry::CopyBranch(HKEY from, const std::vector<std::string>& names,
                             const std::string& target, const KeyNode& node) {
  bool complete = false;
  platform::UniqueKey targetKey;
  bool existing = false;
  const Reached reached = TargetKey(root_, target, from, names, targetKey, existing);
  if (reached == Reached::Link) {
    return kFalse;  // nothing is written through it, nor below what it points to
  }
  if (reached == Reached::Key) {
    complete = WriteValues(targetKey.get(), node.values, existing);
  }
  // Subkeys are tried also when the target could not be had: theirs may be.
  // Each is made below this target key, which spares the store walking the
  // whole path again. Without that key, the walk starts again from the
  // nearest key above that was had. Below an empty TargetName or one that
  // ends in "\", a subkey's path is TargetName, "\" and its name, and the
  // store decides: never a path that does not lie below the target.
  const bool top = from == nullptr && names.empty();
  const bool byHandle = targetKey && !(top && (target.empty() || target.back() == '\\'));
  for (const KeyNode& child : node.subkeys) {
    Boolean copied = kFalse;
    if (byHandle) {
      copied = CopyBranch(targetKey.get(), {child.name}, target, child);
    } else {
      std::vector<std::string> below(names);
      below.push_back(child.name);
      copied = CopyBranch(from, below, target, child);
    }
    complete = copied == kTrue && complete;
  }
  return complete ? kTrue : kFalse;
}

// What became of a key that the delete walked.
enum class Registry::Removal : int {
  Gone,
  Kept,   // a link, or a name the ANSI calls cannot take, lies below it: left on purpose
  Stuck,  // a key that could not be opened or deleted: the walk ends
};

Boolean Registry::DeleteTree(std::string_view RootName, std::string_view DelName) {
  if (DelName.empty()) {
    return kFalse;  // that would be the contents of a whole root
  }
  const RestoredRoot restored(root_);
  ParseRootName(RootName);
  const std::string path(DelName);
  // The caller's own name is resolved as Windows resolves it. A key without
  // subkeys takes a single call.
  const LSTATUS first = RegDeleteKeyA(root_, path.c_str());
  if (first == ERROR_SUCCESS) {
    return kTrue;
  }
  HKEY opened = nullptr;
  if (first == ERROR_FILE_NOT_FOUND || RegOpenKeyA(root_, path.c_str(), &opened) != ERROR_SUCCESS) {
    return kFalse;
  }
  const BranchKey key(root_, opened);
  return DeleteBranch(key.get()) == Removal::Gone ? kTrue : kFalse;
}

Registry::Removal Registry::DeleteBranch(HKEY key) {
  // Subkeys are deleted from the first on. One the code page cannot spell,
  // a link, and a key kept for either reason are left where they are, and
  // the walk goes on after them; one that cannot be opened or deleted ends
  // it.
  std::array<WCHAR, kKeyNameCapacity> name{};
  DWORD left = 0;
  bool stuck = false;
  while (!stuck) {
    DWORD length = kKeyNameCapacity;
    const LSTATUS listed =
        RegEnumKeyExW(key, left, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (listed != ERROR_SUCCESS) {
      stuck = listed != ERROR_NO_MORE_ITEMS;
      break;
    }
    const std::optional<std::string> spelled = Spelled(name.data(), length);
    if (!spelled || spelled->size() >= kNameCapacity) {
      ++left;
      continue;
    }
    HKEY opened = nullptr;
    if (RegOpenKeyExA(key, spelled->c_str(), REG_OPTION_OPEN_LINK, MAXIMUM_ALLOWED, &opened) !=
        ERROR_SUCCESS) {
      stuck = true;
      break;
    }
    const platform::UniqueKey child(opened);
    if (MayBeLink(child.get())) {
      ++left;  // deleting it would need NtDeleteKey; RegDeleteKeyA may take what it points to
      continue;
    }
    // Most keys of a tree have no subkeys: one call deletes such a key.
    if (RegDeleteKeyA(child.get(), "") == ERROR_SUCCESS) {
      continue;
    }
    switch (DeleteBranch(child.get())) {
      case Removal::Gone:
        break;
      case Removal::Kept:
        ++left;
        break;
      case Removal::Stuck:
        stuck = true;
        break;
    }
  }
  if (RegDeleteKeyA(key, "") == ERROR_SUCCESS) {
    return Removal::Gone;
  }
  return stuck || left == 0 ? Removal::Stuck : Removal::Kept;
}

}  // namespace registry
