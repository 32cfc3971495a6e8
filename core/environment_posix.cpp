#include "core/environment.h"

#include <cstdlib>

#include "core/text.h"

namespace emberfall {

std::optional<std::u16string> ReadEnvironmentVariable(std::u16string_view name,
                                                      size_t buffer_units) {
  const std::string narrow_name = WideToUtf8(name);
  const char* value = std::getenv(narrow_name.c_str());
  if (value == nullptr || *value == '\0') return std::nullopt;
  std::u16string wide = Utf8ToWide(value);
  if (wide.empty() || wide.size() >= buffer_units) return std::nullopt;
  return wide;
}

bool SetEnvironmentVariableText(std::u16string_view name, const std::u16string* value) {
  const std::string narrow_name = WideToUtf8(name);
  if (value == nullptr) return ::unsetenv(narrow_name.c_str()) == 0;
  return ::setenv(narrow_name.c_str(), WideToUtf8(*value).c_str(), 1) == 0;
}

}  // namespace emberfall
