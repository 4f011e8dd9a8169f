// The value that the registry object reads and writes: a text, a 32-bit or
// 16-bit integer or a byte sequence, each carrying its kind. The other kinds
// are stored only as a key's default value, as their text.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/error.h"

namespace registry {

// True is -1 and False 0 wherever a Boolean is stored or returned; any
// non-zero value counts as True where one is tested.
using Boolean = std::int32_t;
inline constexpr Boolean kTrue = -1;
inline constexpr Boolean kFalse = 0;

using Bytes = std::vector<std::uint8_t>;

struct Empty {
  bool operator==(const Empty&) const = default;
};
struct Null {
  bool operator==(const Null&) const = default;
};
// A calendar date and time of day; its text is ISO 8601.
struct Date {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool operator==(const Date&) const = default;
};
// A sequence of elements other than bytes, held by the elements' texts; its
// text is the elements joined by commas.
struct Sequence {
  std::vector<std::string> elements;
  bool operator==(const Sequence&) const = default;
};

// Texts are in the system's ANSI code page, as the registry's ANSI calls take them.
using TaggedValue = std::variant<std::string, std::int32_t, std::int16_t, Bytes, bool, std::uint8_t,
                                 double, Date, Empty, Null, Sequence>;

// A byte sequence too long for the registry writer.
class OverflowError : public platform::Error {
 public:
  using platform::Error::Error;
};

// A value that cannot be converted, such as a null value turned into a text.
class ConversionError : public platform::Error {
 public:
  using platform::Error::Error;
};

// The text form of a value, as written to a key's default value. Throws
// ConversionError for a null value, the one kind without a text.
std::string TextOf(const TaggedValue& value);

// True for the empty text, the one reading that counts as "nothing there".
bool IsEmptyText(const TaggedValue& value);

}  // namespace registry
