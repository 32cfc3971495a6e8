// Hand-off between the project's UTF-16 text (std::u16string) and Win32's
// wchar_t strings. wchar_t is 16 bits on Windows, so both hold the same units.
#ifndef EMBERFALL_CORE_WIN_WIDE_H_
#define EMBERFALL_CORE_WIN_WIDE_H_

#include <string>
#include <string_view>

namespace emberfall::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wchar_t is UTF-16");

// Copies |text| into a NUL-terminated wide string for a Win32 call.
inline std::wstring ToWinString(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

// Copies |length| units of a Win32 wide string back into project text.
inline std::u16string FromWinString(const wchar_t* text, size_t length) {
  return std::u16string(text, text + length);
}

inline std::u16string FromWinString(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}

}  // namespace emberfall::win

#endif  // EMBERFALL_CORE_WIN_WIDE_H_
