#include "registry/registry.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace registry {
namespace {

// Longest byte sequence the writer takes: its last index must stay within 16 bits.
constexpr std::size_t kMaxBinarySize = 32767;

struct RootName {
  const char* longName;
  const char* shortName;
  HKEY key;
};

std::array<RootName, 6> RootNames() {
  return {{
      {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
      {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
      {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG},
      {"HKEY_DYN_DATA", "HKDD", HKEY_DYN_DATA},
      {"HKEY_USERS", "HKUS", HKEY_USERS},
  }};
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return upper;
}

const BYTE* BytesOf(const void* data) { return static_cast<const BYTE*>(data); }

TaggedValue ReadDefault(HKEY key) {
  LONG size = 0;
  if (RegQueryValueA(key, "", nullptr, &size) != ERROR_SUCCESS || size <= 0) {
    return std::string{};
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  RegQueryValueA(key, "", text.data(), &size);
  // The terminator the store hands back is not part of the text; only one is dropped.
  if (!text.empty() && text.back() == '\0') {
    text.pop_back();
  }
  return text;
}

TaggedValue ReadNamed(HKEY key, const std::string& name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return std::string{};
  }
  switch (type) {
    case REG_SZ: {
      if (size == 0) {
        return std::string{};
      }
      // Twice the size, so that a zero follows even a text stored without its terminator.
      std::string buffer(std::size_t{size} * 2, '\0');
      DWORD read = size;
      RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()),
                       &read);
      return buffer.substr(0, buffer.find('\0'));
    }
    case REG_BINARY: {
      Bytes bytes(size);
      if (size > 0) {
        DWORD read = size;
        RegQueryValueExA(key, name.c_str(), nullptr, nullptr, bytes.data(), &read);
      }
      return bytes;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
      // Little-endian whatever the type says; a longer value gives its first four bytes.
      Bytes bytes(std::max<DWORD>(size, 4), 0);
      DWORD read = size;
      RegQueryValueExA(key, name.c_str(), nullptr, nullptr, bytes.data(), &read);
      return static_cast<std::int32_t>(bytes[0] | (bytes[1] << 8U) | (bytes[2] << 16U) |
                                       (static_cast<std::uint32_t>(bytes[3]) << 24U));
    }
    default:
      return std::string{};
  }
}

}  // namespace

bool Registry::ParseRootName(std::string_view Name) {
  std::string upper = Upper(Name);
  for (const RootName& row : RootNames()) {
    if (upper == row.longName || upper == row.shortName) {
      root_ = row.key;
      return true;
    }
  }
  return false;
}

void Registry::RootKeyName(std::string_view Name) {
  if (ParseRootName(Name)) {
    rootName_ = Name;
  }
}

template <class StoreCall>
Boolean Registry::Open(std::string_view SubKey, StoreCall call) {
  open_.reset();
  QueryName.clear();
  std::string path(SubKey);
  HKEY key = nullptr;
  if (call(root_, path.c_str(), &key) != ERROR_SUCCESS) {
    return kFalse;
  }
  open_.reset(key);
  return kTrue;
}

Boolean Registry::OpenKey(std::string_view SubKey) { return Open(SubKey, &::RegOpenKeyA); }

Boolean Registry::CreateKey(std::string_view SubKey) { return Open(SubKey, &::RegCreateKeyA); }

void Registry::DeleteKey() {
  if (!open_) {
    return;
  }
  RegDeleteKeyA(open_.get(), "");
  open_.reset();
  QueryName.clear();
}

void Registry::DeleteName() {
  RegDeleteValueA(open_.get(), QueryName.c_str());
  QueryName.clear();
}

TaggedValue Registry::QueryValue() const {
  return QueryName.empty() ? ReadDefault(open_.get()) : ReadNamed(open_.get(), QueryName);
}

void Registry::QueryValue(const TaggedValue& Value) { StoreValue(Value); }

void Registry::StoreValue(const TaggedValue& Value) {
  HKEY key = open_.get();
  if (QueryName.empty()) {
    std::string text = TextOf(Value);
    RegSetValueA(key, "", REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    return;
  }
  const char* name = QueryName.c_str();
  if (const auto* text = std::get_if<std::string>(&Value)) {
    // A text keeps its terminator; the empty text is stored without any data.
    DWORD size = text->empty() ? 0 : static_cast<DWORD>(text->size() + 1);
    RegSetValueExA(key, name, 0, REG_SZ, BytesOf(text->c_str()), size);
  } else if (std::holds_alternative<std::int32_t>(Value) ||
             std::holds_alternative<std::int16_t>(Value)) {
    auto number = static_cast<std::uint32_t>(std::holds_alternative<std::int32_t>(Value)
                                                 ? std::get<std::int32_t>(Value)
                                                 : std::get<std::int16_t>(Value));
    std::array<BYTE, 4> bytes{static_cast<BYTE>(number), static_cast<BYTE>(number >> 8U),
                              static_cast<BYTE>(number >> 16U), static_cast<BYTE>(number >> 24U)};
    RegSetValueExA(key, name, 0, REG_DWORD, bytes.data(), 4);
  } else if (const auto* bytes = std::get_if<Bytes>(&Value)) {
    if (bytes->size() > kMaxBinarySize) {
      throw OverflowError("a byte sequence of more than 32,767 bytes cannot be written");
    }
    RegSetValueExA(key, name, 0, REG_BINARY, bytes->data(), static_cast<DWORD>(bytes->size()));
  }
  // Any other kind is stored only as a default value: nothing to write here.
}

void Registry::SetDefault(std::string_view KeyName, const TaggedValue& Value, Boolean Force) {
  std::string saved = QueryName;
  QueryName = KeyName;
  TaggedValue present = QueryValue();
  if (Force != kFalse || std::holds_alternative<Bytes>(present) || IsEmptyText(present)) {
    StoreValue(Value);
  }
  QueryName = std::move(saved);
}

}  // namespace registry
