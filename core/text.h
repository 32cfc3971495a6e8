// Text conversions and formatting shared by every layer. Inside the system all
// text is UTF-16 (std::u16string); files, network bodies and JSON are UTF-8
// (std::string holding bytes). Conversion happens at those boundaries.
#ifndef EMBERFALL_CORE_TEXT_H_
#define EMBERFALL_CORE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace emberfall {

// Converts UTF-8 up to the first NUL byte (or the end of |utf8|). Invalid
// sequences become U+FFFD. An empty input, or a conversion the platform
// refuses, gives an empty string. Never throws except on allocation failure.
std::u16string Utf8ToWide(std::string_view utf8);

// Converts all of |bytes|, embedded NULs kept, as strict UTF-8; when the bytes
// are not valid UTF-8 they are read in the system ANSI code page instead (on
// Windows the real one; elsewhere Windows-1254, see text_posix.cpp). Empty
// input, failure of both conversions, or 2^31 bytes or more give "".
// Used for text that may come from legacy files.
std::u16string Utf8ToWideLenient(std::string_view bytes);

// Converts UTF-16 up to the first NUL unit to UTF-8. Unpaired surrogates
// become U+FFFD. Gives "" if the platform refuses the conversion.
std::string WideToUtf8(std::u16string_view wide);

// Formats a byte count for people: "1023 B", "1.5 kB", "1.0 MB", up to "TB".
// Negative counts print as "0 B".
std::u16string FormatByteSize(std::int64_t bytes);

// The case-insensitive key of a relative path: every UTF-16 unit upper-cased
// as Windows' CharUpperBuffW does it. On Windows this is that call; elsewhere
// a table of the same single-unit mappings (text_posix.cpp).
std::u16string PathKey(std::u16string_view path);

// ASCII or UTF-8 literal to UTF-16; a convenience for building messages.
inline std::u16string Widen(std::string_view utf8) { return Utf8ToWide(utf8); }

// The run of ASCII digits at the start of |text|, read as a decimal number
// bounded by |max|. The one digit loop of every decimal format; what a
// format allows around the digits (signs, spaces, what may follow) is its
// own parser's business.
struct DecimalDigits {
  std::size_t length = 0;    // digits in the run; 0 when |text| starts with none
  std::uint64_t value = 0;   // their value, or |max| when that is larger
  bool overflow = false;     // their value is larger than |max|
};
DecimalDigits ReadDecimalDigits(std::string_view text, std::uint64_t max = UINT64_MAX);
DecimalDigits ReadDecimalDigits(std::u16string_view text, std::uint64_t max = UINT64_MAX);

enum class LeadingZeros {
  kRefused,  // one spelling per number: "0", "7", never "007"
  kAllowed,  // fixed-width fields and formats that pad
};

// All of |text| as an unsigned decimal: digits only (no sign, space or
// "0x"), value at most |max|, and no leading zero except "0" itself unless
// |zeros| allows them. nullopt for anything else, the empty text and
// overflow included.
std::optional<std::uint64_t> ParseUnsignedDecimal(std::string_view text,
                                                  std::uint64_t max = UINT64_MAX,
                                                  LeadingZeros zeros = LeadingZeros::kRefused);
std::optional<std::uint64_t> ParseUnsignedDecimal(std::u16string_view text,
                                                  std::uint64_t max = UINT64_MAX,
                                                  LeadingZeros zeros = LeadingZeros::kRefused);

// Decimal text of a signed or unsigned integer, as UTF-16.
std::u16string ToWideDecimal(std::int64_t value);
std::u16string ToWideDecimalUnsigned(std::uint64_t value);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_TEXT_H_
