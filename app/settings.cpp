#include "app/settings.h"

#include <charconv>
#include <string>

namespace app {

std::int32_t NumberOf(const registry::TaggedValue& value) {
  if (const auto* number = std::get_if<std::int32_t>(&value)) {
    return *number;
  }
  if (const auto* number = std::get_if<std::int16_t>(&value)) {
    return *number;
  }
  const auto* text = std::get_if<std::string>(&value);
  if (text == nullptr) {
    throw registry::ConversionError("the value is no number");
  }
  std::string_view digits(*text);
  std::size_t first = digits.find_first_not_of(' ');
  std::size_t last = digits.find_last_not_of(' ');
  if (first == std::string_view::npos) {
    throw registry::ConversionError("an empty text is no number");
  }
  digits = digits.substr(first, last - first + 1);
  if (digits.front() == '+') {
    digits.remove_prefix(1);  // from_chars takes only a minus sign
    if (!digits.empty() && digits.front() == '-') {
      throw registry::ConversionError("two signs");
    }
  }
  std::int32_t number = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc{} || end != digits.data() + digits.size()) {
    throw registry::ConversionError("the text is no 32-bit decimal number");
  }
  return number;
}

}  // namespace app
