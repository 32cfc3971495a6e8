#include "core/text.h"

#include <cstdio>

namespace emberfall {

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
