#include "core/environment.h"

#include <vector>

#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {

std::optional<std::u16string> ReadEnvironmentVariable(std::u16string_view name,
                                                      size_t buffer_units) {
  if (buffer_units == 0) return std::nullopt;
  const std::wstring wide_name = win::ToWinString(name);
  std::vector<wchar_t> buffer(buffer_units, L'\0');
  const DWORD length =
      GetEnvironmentVariableW(wide_name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  // 0: unset or empty; >= the buffer: the size it would need, i.e. too long.
  if (length == 0 || length >= buffer.size()) return std::nullopt;
  return win::FromWinString(buffer.data(), length);
}

bool SetEnvironmentVariableText(std::u16string_view name, const std::u16string* value) {
  const std::wstring wide_name = win::ToWinString(name);
  if (value == nullptr) return SetEnvironmentVariableW(wide_name.c_str(), nullptr) != 0;
  const std::wstring wide_value = win::ToWinString(*value);
  return SetEnvironmentVariableW(wide_name.c_str(), wide_value.c_str()) != 0;
}

}  // namespace emberfall
