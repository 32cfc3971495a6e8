#include "core/text.h"

#include <cstdio>

namespace emberfall {
namespace {

template <typename Char>
DecimalDigits ReadDigits(std::basic_string_view<Char> text, std::uint64_t max) {
  DecimalDigits run;
  for (const Char c : text) {
    if (c < Char('0') || c > Char('9')) break;
    const auto digit = static_cast<std::uint64_t>(c - Char('0'));
    if (digit > max || run.value > (max - digit) / 10) {
      run.overflow = true;
      run.value = max;
    } else {
      run.value = run.value * 10 + digit;
    }
    ++run.length;
  }
  return run;
}

template <typename Char>
std::optional<std::uint64_t> ParseWhole(std::basic_string_view<Char> text, std::uint64_t max,
                                        LeadingZeros zeros) {
  if (zeros == LeadingZeros::kRefused && text.size() > 1 && text[0] == Char('0')) {
    return std::nullopt;
  }
  const DecimalDigits run = ReadDigits(text, max);
  if (run.length == 0 || run.length != text.size() || run.overflow) return std::nullopt;
  return run.value;
}

}  // namespace

std::u16string FormatByteSize(std::int64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "kB", "MB", "GB", "TB"};
  double value = bytes < 0 ? 0.0 : static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024.0 && unit < 4) {
    value /= 1024.0;
    ++unit;
  }
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return Utf8ToWide(buffer);
}

DecimalDigits ReadDecimalDigits(std::string_view text, std::uint64_t max) {
  return ReadDigits(text, max);
}

DecimalDigits ReadDecimalDigits(std::u16string_view text, std::uint64_t max) {
  return ReadDigits(text, max);
}

std::optional<std::uint64_t> ParseUnsignedDecimal(std::string_view text, std::uint64_t max,
                                                  LeadingZeros zeros) {
  return ParseWhole(text, max, zeros);
}

std::optional<std::uint64_t> ParseUnsignedDecimal(std::u16string_view text, std::uint64_t max,
                                                  LeadingZeros zeros) {
  return ParseWhole(text, max, zeros);
}

std::u16string ToWideDecimal(std::int64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%lld", static_cast<long long>(value));
  return Utf8ToWide(buffer);
}

std::u16string ToWideDecimalUnsigned(std::uint64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%llu", static_cast<unsigned long long>(value));
  return Utf8ToWide(buffer);
}

}  // namespace emberfall
