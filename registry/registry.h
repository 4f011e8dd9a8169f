// A registry object: one root key, at most one open key below it, and the
// value named by QueryName that reading and writing act on.
//
// Registry failures never throw: opening and creating report them as False,
// reading as the empty text, and failed writes and deletes are silent. Only
// conversions throw: OverflowError for a byte sequence above 32,767 bytes,
// ConversionError for a null value written as a key's default value.
// docs/design.md ("The `Registry` class") holds the rules of CopyTree and
// DeleteTree: links, names the code page cannot spell, others' changes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_key.h"
#include "registry/tagged_value.h"

namespace registry {

// The source tree as CopyTree reads it, before anything is written.
class Snapshot;

class Registry {
 public:
  // The value that QueryValue reads and writes; "" is the open key's default value.
  std::string QueryName;

  // Root HKEY_CURRENT_USER ("HKCU"), no key open.
  Registry() = default;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;
  ~Registry() = default;

  // Chooses the root by its long or short name, in any case ("hklm",
  // "HKEY_LOCAL_MACHINE"). An unknown name changes nothing. A key that is
  // open stays open under its old root.
  void RootKeyName(std::string_view Name);
  // The name last assigned as the caller wrote it, "HKCU" at first.
  [[nodiscard]] const std::string& RootKeyName() const { return rootName_; }

  // Writes Value as the open key's value KeyName when Force is non-zero or
  // nothing that counts as present is there: a missing, empty, unreadable or
  // byte-sequence value.
  // QueryName is kept, unless a conversion error interrupts the write.
  void SetDefault(std::string_view KeyName, const TaggedValue& Value, Boolean Force);

  // Writes Value as the value named by QueryName: a text as REG_SZ, an
  // integer as REG_DWORD, a byte sequence as REG_BINARY; the default value
  // as its text. Other kinds are written only as the default value. A failed
  // write is silent; throws OverflowError or ConversionError (see above).
  void QueryValue(const TaggedValue& Value);
  // Reads it: a text, a 32-bit integer or a byte sequence; "" when nothing can be read.
  [[nodiscard]] TaggedValue QueryValue() const;

  // Deletes the value named by QueryName, then empties QueryName. A failed
  // delete is silent.
  void DeleteName();

  // Opens SubKey below the root (OpenKey) or opens it creating what is
  // missing (CreateKey), closing the previous key first and emptying
  // QueryName. kTrue on success; after a failure no key is open.
  Boolean OpenKey(std::string_view SubKey);
  Boolean CreateKey(std::string_view SubKey);

  // Deletes the open key itself, closes it and empties QueryName; with no
  // key open, does nothing. A store may refuse while the key has subkeys;
  // it is closed all the same.
  void DeleteKey();

  // Copies SourceName below SourceRoot, its values and subkeys at any depth,
  // to TargetName below TargetRoot; an unknown SourceRoot is this object's
  // root, an unknown TargetRoot the source's. kTrue when all of it arrived
  // exactly; else kFalse, the rest copied all the same, and a key whose
  // values could not all be written given its earlier ones back. Never writes
  // outside TargetName, follows a link below the names or changes this object.
  Boolean CopyTree(std::string_view SourceRoot, std::string_view SourceName,
                   std::string_view TargetRoot, std::string_view TargetName);

  // Deletes DelName below RootName with everything below it, at any depth,
  // up to the first key that cannot be opened or deleted. kTrue when DelName
  // is gone; kFalse when it remains or was not there. Never deletes for an
  // empty DelName (a whole root), never follows a link below DelName (it
  // deletes the link itself) and never changes this object.
  Boolean DeleteTree(std::string_view RootName, std::string_view DelName);

 private:
  // Sets the root key by name; an unknown name changes nothing. True when recognised.
  bool ParseRootName(std::string_view Name);
  void StoreValue(const TaggedValue& Value);
  template <class StoreCall>
  Boolean Open(std::string_view SubKey, StoreCall call);
  // Writes the snapshot `tree` to TargetName (`target`) below the root.
  // kTrue when all of it was written.
  Boolean CopyBranch(const std::string& target, const Snapshot& tree);
  // Empties the open `key` and deletes it, and says whether it went, stays
  // on purpose or stays because something could not be deleted.
  enum class Removal : int;
  static Removal DeleteBranch(HKEY key);

  HKEY root_ = HKEY_CURRENT_USER;
  std::string rootName_ = "HKCU";
  platform::UniqueKey open_;
};

}  // namespace registry
