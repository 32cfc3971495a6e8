#include "core/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(Utf8ToWideTest, ConvertsWellFormedTextUpToTheFirstNul) {
  EXPECT_EQ(Utf8ToWide("plain"), u"plain");
  EXPECT_EQ(Utf8ToWide("\xC3\xBC\xE2\x82\xAC"), u"\u00FC\u20AC");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");  // a surrogate pair
  EXPECT_EQ(Utf8ToWide(""), u"");
  EXPECT_EQ(Utf8ToWide(std::string_view("ab\0cd", 5)), u"ab");
  EXPECT_EQ(Utf8ToWide(std::string_view("\0x", 2)), u"");
}

TEST(Utf8ToWideTest, ReplacesInvalidSequencesAndKeepsTheRest) {
  const std::u16string out = Utf8ToWide("a\xFF" "b");
  EXPECT_EQ(out, u"a\uFFFDb");
  const std::u16string truncated = Utf8ToWide("x\xE2\x82");
  ASSERT_GE(truncated.size(), 2u);
  EXPECT_EQ(truncated.front(), u'x');
  EXPECT_EQ(truncated.back(), u'\uFFFD');
}

TEST(Utf8ToWideLenientTest, KeepsEmbeddedNulsOfValidUtf8) {
  EXPECT_EQ(Utf8ToWideLenient(std::string_view("a\0\xC3\xA7", 4)), std::u16string(u"a\0\u00E7", 3));
  EXPECT_EQ(Utf8ToWideLenient(""), u"");
}

TEST(Utf8ToWideLenientTest, FallsBackToTheAnsiCodePageForInvalidUtf8) {
  // Bytes every Western and Turkish ANSI code page agrees on.
  EXPECT_EQ(Utf8ToWideLenient("caf\xE9"), u"caf\u00E9");
  EXPECT_EQ(Utf8ToWideLenient("\xFC" "ber\x80"), u"\u00FCber\u20AC");
  // A single invalid byte turns the whole text over to the code page.
  EXPECT_EQ(Utf8ToWideLenient("\xC3\xBC\xFC"), u"\u00C3\u00BC\u00FC");
}

TEST(WideToUtf8Test, ConvertsStopsAtNulAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(WideToUtf8(u"\u00FC\u20AC\U0001F600"), "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::u16string_view(u"ab\0cd", 5)), "ab");
  EXPECT_EQ(WideToUtf8(u""), "");
  const char16_t lone_high[] = {0xD800, u'a', 0};
  EXPECT_EQ(WideToUtf8(lone_high), "\xEF\xBF\xBD" "a");
  const char16_t lone_low[] = {u'a', 0xDC00, 0};
  EXPECT_EQ(WideToUtf8(lone_low), "a\xEF\xBF\xBD");
}

TEST(FormatByteSizeTest, ScalesAndRounds) {
  struct Case {
    std::int64_t bytes;
    const char16_t* text;
  };
  const Case cases[] = {
      {-5, u"0 B"},
      {0, u"0 B"},
      {1, u"1 B"},
      {1023, u"1023 B"},
      {1024, u"1.0 kB"},
      {1536, u"1.5 kB"},
      {1048575, u"1024.0 kB"},  // rounds up, but no fifth unit step
      {1048576, u"1.0 MB"},
      {1073741824, u"1.0 GB"},
      {std::int64_t{1} << 40, u"1.0 TB"},
      {std::int64_t{1} << 50, u"1024.0 TB"},  // at most four divisions
      {INT64_MAX, u"8388608.0 TB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(FormatByteSize(c.bytes), c.text);
  }
}

TEST(DecimalTextTest, FormatsExtremes) {
  EXPECT_EQ(ToWideDecimal(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(ToWideDecimal(0), u"0");
  EXPECT_EQ(ToWideDecimalUnsigned(UINT64_MAX), u"18446744073709551615");
}

// Every BMP unit against the mapping recorded from CharUpperBuffW.
TEST(PathKeyTest, MatchesTheRecordedWindowsMappingForEveryUnit) {
  std::ifstream in(test::TestDataPath("char_upper_map.txt"));
  ASSERT_TRUE(in.good());
  std::u16string expected(0x10000, u'\0');
  for (std::uint32_t c = 0; c < 0x10000; ++c) expected[c] = static_cast<char16_t>(c);
  std::string line;
  int mappings = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    unsigned from = 0, to = 0;
    std::istringstream fields(line);
    fields >> std::hex >> from >> to;
    ASSERT_TRUE(fields) << line;
    expected[from] = static_cast<char16_t>(to);
    ++mappings;
  }
  EXPECT_GT(mappings, 1000);

  // Surrogates are excluded: a lone one is not a character of its own.
  std::u16string all;
  for (std::uint32_t c = 1; c < 0x10000; ++c) {
    if (c < 0xD800 || c > 0xDFFF) all.push_back(static_cast<char16_t>(c));
  }
  const std::u16string key = PathKey(all);
  ASSERT_EQ(key.size(), all.size());
  int mismatches = 0;
  for (size_t i = 0; i < all.size() && mismatches < 10; ++i) {
    if (key[i] != expected[all[i]]) {
      ADD_FAILURE() << std::hex << "U+" << unsigned(all[i]) << " -> U+" << unsigned(key[i])
                    << ", expected U+" << unsigned(expected[all[i]]);
      ++mismatches;
    }
  }
}

}  // namespace
}  // namespace emberfall
