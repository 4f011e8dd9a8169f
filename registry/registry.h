// A registry object: one root key, at most one open key below it, and the
// value named by QueryName that reading and writing act on.
//
// Registry failures never throw: opening and creating report them as False,
// reading as the empty text, and failed writes and deletes are silent. Only
// conversions throw: OverflowError for a byte sequence above 32,767 bytes,
// ConversionError for a null value written as a key's default value.
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

  // Writes Value under KeyName when Force is non-zero or nothing that counts
  // as present is there: a missing, empty, unreadable or byte-sequence value.
  // QueryName is kept, unless a conversion error interrupts the write.
  void SetDefault(std::string_view KeyName, const TaggedValue& Value, Boolean Force);

  // Writes the value named by QueryName (the default value as its text).
  void QueryValue(const TaggedValue& Value);
  // Reads it: a text, a 32-bit integer or a byte sequence; "" when nothing can be read.
  [[nodiscard]] TaggedValue QueryValue() const;

  // Deletes the value named by QueryName, then empties QueryName.
  void DeleteName();

  // Opens SubKey below the root (OpenKey) or opens it creating what is
  // missing (CreateKey), closing the previous key first and emptying
  // QueryName. kTrue on success; after a failure no key is open.
  Boolean OpenKey(std::string_view SubKey);
  Boolean CreateKey(std::string_view SubKey);

  // Deletes the open key itself and closes it. A store may refuse while the
  // key has subkeys; it is closed all the same.
  void DeleteKey();

  // Copies the key SourceName below SourceRoot, with its values and all its
  // subkeys, to TargetName below TargetRoot; values of the same names are
  // replaced, others kept. An unknown SourceRoot means this object's root, an
  // unknown TargetRoot the source root. Text, binary and 32-bit values are
  // copied, others skipped. The source tree is read whole first, each key
  // opened once, and the target is written from that snapshot alone: a
  // target inside the source gets the tree as it stood, and the copy always
  // ends, at any depth. The snapshot holds every copied name and value in
  // memory, little more than their own size.
  // kTrue only when every key and value that stood in the source throughout
  // the copy arrived exactly as the copy defines it; kFalse when something
  // could not be read or written, was skipped or cut (a named value of
  // another type, a number of more than four bytes), or kept changing while
  // it was read: a key that another party changes while it is read is read
  // again, a few times at most. The rest is copied all the same. Nothing is
  // written anywhere but at or below TargetName. A key whose values could
  // not all be written gets its earlier values back, as far as the store
  // allows: none holds a mix of old and new; a value whose earlier state
  // cannot be read is left as it is. Root, root name, open key and
  // QueryName stay as they were, also when an exception (out of memory)
  // passes through.
  // SourceName and TargetName are resolved as Windows resolves them, through
  // symbolic links and WoW64's redirection too. Below them each key is the
  // one of the name it was listed under, in no other view, and no link is
  // ever followed: a link in the source is neither followed nor copied, and
  // where the target holds a link in the place of a source key, that whole
  // branch is left out, so nothing is written through it; both give kFalse,
  // and the copy ends whatever loops links make. A key that holds a REG_LINK
  // "SymbolicLinkValue", or that may be a link because it could not be
  // asked, counts as one. Names are read through the wide calls, so that
  // none arrives under another: a name that the ANSI code page does not
  // spell exactly (a character it lacks, which would become "?" or a best
  // fit, "ā" becoming "a"; a zero inside) or that is longer than 255 bytes in
  // it is left out with its branch, and the copy gives kFalse. A text's data
  // is read in UTF-16 and spelt in the code page, as the ANSI calls spell
  // it; one that the code page cannot spell arrives so, with kFalse. Earlier
  // values that a failed write gives back are read and written through the
  // wide calls, exactly.
  Boolean CopyTree(std::string_view SourceRoot, std::string_view SourceName,
                   std::string_view TargetRoot, std::string_view TargetName);

  // Deletes DelName below RootName with everything below it, at any depth,
  // also on a store that refuses to delete a key that has subkeys. Stops at
  // the first subkey that cannot be opened or deleted; what was deleted stays
  // deleted, and what remains hangs below DelName as before. An empty
  // DelName, the whole root, deletes nothing. kTrue when DelName is gone;
  // kFalse when it remains, or was not there. The root is restored as by
  // CopyTree.
  // DelName is resolved as Windows resolves it. Below it each key is
  // deleted through the handle it was opened by, never reopened by a name
  // that WoW64 could redirect, and no link is followed: a link below it is
  // deleted itself, what it points to stays. A key whose name the code page
  // does not spell exactly is left as it is, and so is every key above it;
  // the walk goes on after it, and DeleteTree gives kFalse, since DelName
  // remains.
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
