#include "registry/tagged_value.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <compare>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace registry {
namespace {

// A non-negative integer as large as the exact decimal form of a double
// needs (up to 2^1024, or 5^1074 times a 53-bit mantissa).
class Natural {
 public:
  explicit Natural(std::uint64_t value) {
    for (; value != 0; value >>= 32) {
      limbs_.push_back(static_cast<std::uint32_t>(value));
    }
  }

  void MultiplyByPower(std::uint32_t base, int exponent) {
    while (exponent > 0) {
      std::uint32_t factor = 1;
      for (; exponent > 0 && factor <= UINT32_MAX / base; --exponent) {
        factor *= base;
      }
      std::uint64_t carry = 0;
      for (auto& limb : limbs_) {
        carry += std::uint64_t{limb} * factor;
        limb = static_cast<std::uint32_t>(carry);
        carry >>= 32;
      }
      if (carry != 0) {
        limbs_.push_back(static_cast<std::uint32_t>(carry));
      }
    }
  }

  // The decimal digits, most significant first; empty for zero.
  [[nodiscard]] std::string Digits() const {
    std::string digits;
    std::vector<std::uint32_t> rest = limbs_;
    while (!rest.empty()) {
      std::uint64_t remainder = 0;
      for (auto limb = rest.rbegin(); limb != rest.rend(); ++limb) {
        remainder = (remainder << 32) | *limb;
        *limb = static_cast<std::uint32_t>(remainder / 10);
        remainder %= 10;
      }
      digits.push_back(static_cast<char>('0' + remainder));
      while (!rest.empty() && rest.back() == 0) {
        rest.pop_back();
      }
    }
    return {digits.rbegin(), digits.rend()};
  }

  friend std::strong_ordering operator<=>(const Natural& left, const Natural& right) {
    if (left.limbs_.size() != right.limbs_.size()) {
      return left.limbs_.size() <=> right.limbs_.size();
    }
    return std::lexicographical_compare_three_way(left.limbs_.rbegin(), left.limbs_.rend(),
                                                  right.limbs_.rbegin(), right.limbs_.rend());
  }

 private:
  std::vector<std::uint32_t> limbs_;  // least significant first
};

// How digits * 10^decimal compares with bound * 2^binary, exactly.
std::strong_ordering Compare(std::uint64_t digits, int decimal, std::uint64_t bound, int binary) {
  Natural left(digits);
  Natural right(bound);
  Natural& tens = decimal >= 0 ? left : right;
  tens.MultiplyByPower(5, std::abs(decimal));
  tens.MultiplyByPower(2, std::abs(decimal));
  (binary >= 0 ? right : left).MultiplyByPower(2, std::abs(binary));
  return left <=> right;
}

// DIGITS with the decimal exponent EXPONENT of its first digit, written as
// printf's "%.<precision>g" writes it.
std::string GeneralText(std::string digits, int exponent, int precision) {
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  if (exponent < -4 || exponent >= precision) {
    std::string text = digits.substr(0, 1);
    if (digits.size() > 1) {
      text += '.' + digits.substr(1);
    }
    std::string power = std::to_string(std::abs(exponent));
    return text + (exponent < 0 ? "e-" : "e+") + (power.size() < 2 ? "0" : "") + power;
  }
  if (exponent < 0) {
    return "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  }
  auto whole = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= whole) {
    return digits + std::string(whole - digits.size(), '0');
  }
  return digits.substr(0, whole) + '.' + digits.substr(whole);
}

// The shortest correctly rounded decimal text that reads back as the same
// number. Worked out exactly here: printf and strtod are only as exact as the
// C runtime, and some round; the C++ library's own conversion would double
// the program's size.
std::string ShortestText(double number) {
  const std::string sign = std::signbit(number) ? "-" : "";
  if (std::isnan(number)) {
    return sign + "nan";
  }
  if (std::isinf(number)) {
    return sign + "inf";
  }
  if (number == 0) {
    return sign + "0";
  }
  const auto bits = std::bit_cast<std::uint64_t>(number);
  const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t mantissa = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int binary = biased == 0 ? -1074 : biased - 1075;  // number = mantissa * 2^binary

  // Every decimal strictly between the midpoints to the neighbours reads
  // back as this number, and on a midpoint too when the mantissa is even.
  // In quarters of the last place: the gap below a power of two is half.
  const std::uint64_t high = 4 * mantissa + 2;
  const std::uint64_t low = 4 * mantissa - (fraction == 0 && biased > 1 ? 1 : 2);
  const bool even = mantissa % 2 == 0;

  Natural exact(mantissa);
  exact.MultiplyByPower(binary < 0 ? 5 : 2, std::abs(binary));
  const std::string all = exact.Digits();  // number = all * 10^min(binary, 0)
  const int first = static_cast<int>(all.size()) - 1 + std::min(binary, 0);

  for (int precision = 1;; ++precision) {
    std::string digits = all.substr(0, static_cast<std::size_t>(precision));
    int exponent = first;
    if (all.size() > digits.size()) {
      const std::string rest = all.substr(digits.size());
      const bool above_half =
          rest[0] > '5' ||
          (rest[0] == '5' &&
           (rest.find_first_not_of('0', 1) != std::string::npos || (digits.back() - '0') % 2 == 1));
      if (above_half) {
        auto nine = digits.find_last_not_of('9');
        if (nine == std::string::npos) {
          digits = "1" + std::string(digits.size() - 1, '0');
          ++exponent;
        } else {
          ++digits[nine];
          std::fill(digits.begin() + static_cast<std::ptrdiff_t>(nine) + 1, digits.end(), '0');
        }
      }
    }
    std::uint64_t value = 0;
    for (char digit : digits) {
      value = value * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    const int scale = exponent - static_cast<int>(digits.size()) + 1;
    const auto below = Compare(value, scale, low, binary - 2);
    const auto above = Compare(value, scale, high, binary - 2);
    if ((even ? std::is_gteq(below) : std::is_gt(below)) &&
        (even ? std::is_lteq(above) : std::is_lt(above))) {
      return sign + GeneralText(digits, exponent, precision);
    }
  }
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
