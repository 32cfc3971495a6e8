// POSIX stand-ins for the Win32 text services the launcher relies on:
// MultiByteToWideChar / WideCharToMultiByte for UTF-8 and the ANSI code page,
// and CharUpperBuffW for path keys.
#include "core/text.h"

#include <array>
#include <cstdint>

namespace emberfall {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendCodePoint(std::uint32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes UTF-8. In strict mode any ill-formed sequence fails the whole
// conversion (as MB_ERR_INVALID_CHARS does); otherwise each maximal ill-formed
// subpart becomes one U+FFFD, the policy Unicode recommends and Windows follows.
bool DecodeUtf8(std::string_view in, bool strict, std::u16string& out) {
  out.clear();
  out.reserve(in.size());
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    const auto b = static_cast<std::uint8_t>(in[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int need = 0;
    std::uint32_t cp = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;  // no overlong forms
      if (b == 0xED) hi = 0x9F;  // no encoded surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;  // no overlong forms
      if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      if (strict) return false;
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    size_t j = i + 1;
    int got = 0;
    while (got < need && j < n) {
      const auto c = static_cast<std::uint8_t>(in[j]);
      if (c < lo || c > hi) break;
      cp = (cp << 6) | (c & 0x3F);
      lo = 0x80;
      hi = 0xBF;
      ++j;
      ++got;
    }
    if (got < need) {
      if (strict) return false;
      out.push_back(kReplacement);
      i = j;
      continue;
    }
    AppendCodePoint(cp, out);
    i = j;
  }
  return true;
}

// Windows-1254 stands in for the ANSI code page. The game's published files
// and legacy file lists come from Turkish installations, and 1254 agrees with
// Windows-1252 except for six Turkish letters, so Western European names
// decode the same. Undefined bytes map to the same code point, as Windows does.
constexpr char16_t kCp1254High[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x008E, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,  // 98
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // A8
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // B8
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // C0
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // C8
    0x011E, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,  // D0
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF,  // D8
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // E0
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,  // E8
    0x011F, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // F0
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF,  // F8
};

std::u16string DecodeAnsi(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (char ch : in) {
    const auto b = static_cast<std::uint8_t>(ch);
    out.push_back(b < 0x80 ? char16_t{b} : kCp1254High[b - 0x80]);
  }
  return out;
}

// Single-unit upper-case mappings of CharUpperBuffW: Unicode's simple
// upper-case mapping minus those that do not round-trip (dotless i, long s,
// micro sign, final sigma, Greek symbol variants, title-case digraphs).
// Runs of (first, last, stride, delta) over the BMP.
struct UpperRun {
  char16_t first;
  char16_t last;
  std::uint8_t stride;
  std::int32_t delta;
};

constexpr UpperRun kUpperRuns[] = {
#include "core/upper_case_table.inc"
};

// The runs expanded once into a table of every BMP unit (128 KiB), so a key
// costs one load per unit; path keys are built for every list entry.
const char16_t* UpperTable() {
  static const std::array<char16_t, 0x10000> table = [] {
    std::array<char16_t, 0x10000> t;
    for (std::uint32_t c = 0; c < 0x10000; ++c) t[c] = static_cast<char16_t>(c);
    for (const UpperRun& run : kUpperRuns) {
      for (std::uint32_t c = run.first; c <= run.last; c += run.stride) {
        t[c] = static_cast<char16_t>(static_cast<std::int32_t>(c) + run.delta);
      }
    }
    return t;
  }();
  return table.data();
}

}  // namespace

std::u16string Utf8ToWide(std::string_view utf8) {
  const size_t nul = utf8.find('\0');
  if (nul != std::string_view::npos) utf8 = utf8.substr(0, nul);
  std::u16string out;
  DecodeUtf8(utf8, /*strict=*/false, out);
  return out;
}

std::u16string Utf8ToWideLenient(std::string_view bytes) {
  if (bytes.empty() || bytes.size() >= (std::uint64_t{1} << 31)) return {};
  std::u16string out;
  if (DecodeUtf8(bytes, /*strict=*/true, out)) return out;
  return DecodeAnsi(bytes);
}

std::string WideToUtf8(std::u16string_view wide) {
  const size_t nul = wide.find(u'\0');
  if (nul != std::u16string_view::npos) wide = wide.substr(0, nul);
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string PathKey(std::u16string_view path) {
  const char16_t* table = UpperTable();
  std::u16string key(path);
  for (char16_t& c : key) c = table[c];
  return key;
}

}  // namespace emberfall
