#include "core/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(Utf8ToWideTest, StrictStopsAtNulAndReplacesInvalidSequences) {
  const std::pair<std::string_view, std::u16string_view> cases[] = {
      {"plain", u"plain"},
      {"\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00FC\u20AC\U0001F600"},
      {"", u""},
      {{"ab\0cd", 5}, u"ab"},
      {{"\0x", 2}, u""},
      {"a\xFF" "b", u"a\uFFFDb"},
  };
  for (const auto& [utf8, wide] : cases) {
    SCOPED_TRACE(utf8);
    EXPECT_EQ(Utf8ToWide(utf8), wide);
  }
}

// The fallback bytes are ones every Western and Turkish ANSI code page
// agrees on; a single invalid byte turns the whole text over to it.
TEST(Utf8ToWideLenientTest, KeepsNulsOfUtf8AndFallsBackToTheAnsiCodePage) {
  const std::pair<std::string_view, std::u16string_view> cases[] = {
      {{"a\0\xC3\xA7", 4}, {u"a\0\u00E7", 3}},
      {"", u""},
      {"caf\xE9", u"caf\u00E9"},
      {"\xFC" "ber\x80", u"\u00FCber\u20AC"},
      {"\xC3\xBC\xFC", u"\u00C3\u00BC\u00FC"},
  };
  for (const auto& [bytes, wide] : cases) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(Utf8ToWideLenient(bytes), wide);
  }
}

TEST(WideToUtf8Test, StopsAtNulAndReplacesUnpairedSurrogates) {
  const char16_t lone_high[] = {0xD800, u'a', 0};
  const char16_t lone_low[] = {u'a', 0xDC00, 0};
  EXPECT_EQ(WideToUtf8(u"\u00FC\u20AC\U0001F600"), "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::u16string_view(u"ab\0cd", 5)), "ab");
  EXPECT_EQ(WideToUtf8(lone_high), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(WideToUtf8(lone_low), "a\xEF\xBF\xBD");
}

TEST(FormatTextTest, ByteSizesAndDecimals) {
  const std::pair<std::int64_t, std::u16string_view> cases[] = {
      {-5, u"0 B"},
      {1023, u"1023 B"},
      {1024, u"1.0 kB"},
      {1536, u"1.5 kB"},
      {1048575, u"1024.0 kB"},  // rounds up, but no fifth unit step
      {1048576, u"1.0 MB"},
      {1073741824, u"1.0 GB"},
      {std::int64_t{1} << 40, u"1.0 TB"},
      {INT64_MAX, u"8388608.0 TB"},  // at most four divisions
  };
  for (const auto& [bytes, text] : cases) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(FormatByteSize(bytes), text);
  }
  EXPECT_EQ(ToWideDecimal(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(ToWideDecimalUnsigned(UINT64_MAX), u"18446744073709551615");
}

// Every BMP unit but the surrogates against the mapping recorded from
// CharUpperBuffW.
TEST(PathKeyTest, MatchesTheRecordedWindowsMappingForEveryUnit) {
  std::u16string all, want;
  for (std::uint32_t c = 1; c < 0x10000; ++c) {
    if (c < 0xD800 || c > 0xDFFF) all.push_back(static_cast<char16_t>(c));
  }
  want = all;
  std::ifstream in(test::TestDataPath("char_upper_map.txt"));
  std::string line;
  int mappings = 0;
  while (std::getline(in, line)) {
    unsigned from = 0, to = 0;
    if (line.empty() || line[0] == '#' || !(std::istringstream(line) >> std::hex >> from >> to)) continue;
    want[from - (from > 0xDFFF ? 0x801 : 1)] = static_cast<char16_t>(to);
    ++mappings;
  }
  EXPECT_GT(mappings, 1000);
  const std::u16string key = PathKey(all);
  ASSERT_EQ(key.size(), all.size());
  const size_t at = std::mismatch(key.begin(), key.end(), want.begin()).first - key.begin();
  EXPECT_EQ(at, key.size()) << std::hex << "U+" << unsigned(all[at]) << " -> U+" << unsigned(key[at]);
}

}  // namespace
}  // namespace emberfall
