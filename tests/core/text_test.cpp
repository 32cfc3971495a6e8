#include "core/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(TextTest, Utf8AndUtf16StopAtNulAndReplaceInvalidSequences) {
  EXPECT_EQ(Utf8ToWide("\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"), u"\u00FC\u20AC\U0001F600");
  EXPECT_EQ(Utf8ToWide(std::string_view("ab\0cd", 5)), u"ab");
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(WideToUtf8(u"\u00FC\u20AC\U0001F600"), "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::u16string_view(u"ab\0cd", 5)), "ab");
  const char16_t lone_surrogates[] = {0xD800, u'a', 0xDC00, 0};
  EXPECT_EQ(WideToUtf8(lone_surrogates), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
}

// Bytes every Western and Turkish code page agrees on; one invalid byte turns all.
TEST(Utf8ToWideLenientTest, KeepsNulsOfUtf8AndFallsBackToTheAnsiCodePage) {
  EXPECT_EQ(Utf8ToWideLenient(std::string_view("a\0\xC3\xA7", 4)), std::u16string(u"a\0\u00E7", 3));
  EXPECT_EQ(Utf8ToWideLenient("caf\xE9"), u"caf\u00E9");
  EXPECT_EQ(Utf8ToWideLenient("\xFC" "ber\x80"), u"\u00FCber\u20AC");
  EXPECT_EQ(Utf8ToWideLenient("\xC3\xBC\xFC"), u"\u00C3\u00BC\u00FC");
}

TEST(TextTest, ByteSizesAndDecimals) {
  const std::pair<std::int64_t, std::u16string_view> cases[] = {
      {-5, u"0 B"},      {1023, u"1023 B"},        {1536, u"1.5 kB"}, {1048575, u"1024.0 kB"},
      {1048576, u"1.0 MB"}, {1LL << 40, u"1.0 TB"}, {INT64_MAX, u"8388608.0 TB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatByteSize(bytes), text) << bytes;
  EXPECT_EQ(ToWideDecimal(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(ToWideDecimalUnsigned(UINT64_MAX), u"18446744073709551615");
}

// Every BMP unit but surrogates against the mapping recorded from CharUpperBuffW.
TEST(PathKeyTest, MatchesTheRecordedWindowsMappingForEveryUnit) {
  std::u16string all;
  for (std::uint32_t c = 1; c < 0x10000; ++c) {
    if (c < 0xD800 || c > 0xDFFF) all.push_back(static_cast<char16_t>(c));
  }
  std::u16string want = all;
  std::ifstream in(test::TestDataPath("char_upper_map.txt"));
  for (std::string line; std::getline(in, line);) {
    unsigned from = 0, to = 0;
    if (line[0] == '#' || !(std::istringstream(line) >> std::hex >> from >> to)) continue;
    want[from - (from > 0xDFFF ? 0x801 : 1)] = static_cast<char16_t>(to);
  }
  ASSERT_NE(want, all);  // the recording was read
  const std::u16string key = PathKey(all);
  ASSERT_EQ(key.size(), all.size());
  const size_t at = std::mismatch(key.begin(), key.end(), want.begin()).first - key.begin();
  EXPECT_EQ(at, key.size()) << std::hex << "U+" << unsigned(all[at]) << " to " << unsigned(key[at]);
}

}  // namespace
}  // namespace emberfall
