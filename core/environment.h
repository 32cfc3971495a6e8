// Process environment access with Windows semantics on every platform.
#ifndef EMBERFALL_CORE_ENVIRONMENT_H_
#define EMBERFALL_CORE_ENVIRONMENT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace emberfall {

// Reads variable |name| as GetEnvironmentVariableW does into a buffer of
// |buffer_units| UTF-16 units: a value of 1 to |buffer_units| - 1 units is
// returned; an unset variable, an empty value or a value that does not fit
// gives nullopt. (POSIX: the bytes are read as UTF-8.)
std::optional<std::u16string> ReadEnvironmentVariable(std::u16string_view name,
                                                      size_t buffer_units);

// Sets (|value| non-null) or removes variable |name| for this process.
// Returns false if the platform refuses.
bool SetEnvironmentVariableText(std::u16string_view name, const std::u16string* value);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_ENVIRONMENT_H_
