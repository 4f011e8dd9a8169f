#include "registry/tagged_value.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace registry {
namespace {

// The shortest decimal text that reads back as the same number. Done with
// printf rather than std::to_chars, whose tables would double the program's size.
std::string ShortestText(double number) {
  std::array<char, 40> buffer{};
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buffer.data(), buffer.size(), "%.*g", digits, number);
    if (std::strtod(buffer.data(), nullptr) == number) {
      break;
    }
  }
  return buffer.data();
}

std::string IsoText(const Date& date) {
  std::array<char, 64> buffer{};
  int length = std::snprintf(buffer.data(), buffer.size(), "%04d-%02d-%02dT%02d:%02d:%02d",
                             date.year, date.month, date.day, date.hour, date.minute, date.second);
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

struct TextForm {
  std::string operator()(const std::string& text) const { return text; }
  std::string operator()(std::int32_t number) const { return std::to_string(number); }
  std::string operator()(std::int16_t number) const { return std::to_string(number); }
  std::string operator()(const Bytes& bytes) const { return {bytes.begin(), bytes.end()}; }
  std::string operator()(bool flag) const { return flag ? "True" : "False"; }
  std::string operator()(std::uint8_t number) const { return std::to_string(number); }
  std::string operator()(double number) const { return ShortestText(number); }
  std::string operator()(const Date& date) const { return IsoText(date); }
  std::string operator()(const Empty&) const { return {}; }
  std::string operator()(const Null&) const {
    throw ConversionError("a null value has no text form");
  }
  std::string operator()(const Sequence& sequence) const {
    std::string text;
    for (std::size_t i = 0; i < sequence.elements.size(); ++i) {
      text += (i == 0 ? "" : ",") + sequence.elements[i];
    }
    return text;
  }
};

}  // namespace

std::string TextOf(const TaggedValue& value) { return std::visit(TextForm{}, value); }

bool IsEmptyText(const TaggedValue& value) {
  const auto* text = std::get_if<std::string>(&value);
  return text != nullptr && text->empty();
}

}  // namespace registry
