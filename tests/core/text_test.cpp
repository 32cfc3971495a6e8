#include "core/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "core/patch_error.h"
#include "core/xml_reader.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(TextTest, ConversionsByteSizesAndDecimals) {
  EXPECT_EQ(Utf8ToWide("\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"), u"\u00FC\u20AC\U0001F600");
  EXPECT_EQ(Utf8ToWide(std::string_view("ab\0cd", 5)), u"ab");
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(WideToUtf8(u"\u00FC\u20AC\U0001F600"), "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::u16string_view(u"ab\0cd", 5)), "ab");
  const char16_t lone_surrogates[] = {0xD800, u'a', 0xDC00, 0};
  EXPECT_EQ(WideToUtf8(lone_surrogates), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
  // Lenient: bytes every Western and Turkish code page agrees on; one invalid byte turns all.
  EXPECT_EQ(Utf8ToWideLenient(std::string_view("a\0\xC3\xA7", 4)), std::u16string(u"a\0\u00E7", 3));
  EXPECT_EQ(Utf8ToWideLenient("caf\xE9"), u"caf\u00E9");
  EXPECT_EQ(Utf8ToWideLenient("\xFC" "ber\x80"), u"\u00FCber\u20AC");
  EXPECT_EQ(Utf8ToWideLenient("\xC3\xBC\xFC"), u"\u00C3\u00BC\u00FC");
  const std::pair<std::int64_t, std::u16string_view> sizes[] = {
      {-5, u"0 B"},      {1023, u"1023 B"},        {1536, u"1.5 kB"}, {1048575, u"1024.0 kB"},
      {1048576, u"1.0 MB"}, {1LL << 40, u"1.0 TB"}, {INT64_MAX, u"8388608.0 TB"},
  };
  for (const auto& [bytes, text] : sizes) EXPECT_EQ(FormatByteSize(bytes), text) << bytes;
  EXPECT_EQ(ToWideDecimal(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(ToWideDecimalUnsigned(UINT64_MAX), u"18446744073709551615");
}

TEST(DecimalTest, DigitRunsAndWholeNumbersAtTheirBounds) {
  struct Run {
    std::string_view text;
    std::uint64_t max;
    DecimalDigits expected;
  };
  const Run runs[] = {
      {"", UINT64_MAX, {0, 0, false}},
      {"-1", UINT64_MAX, {0, 0, false}},
      {"0042x", UINT64_MAX, {4, 42, false}},
      {"18446744073709551615 ", UINT64_MAX, {20, UINT64_MAX, false}},
      {"18446744073709551616", UINT64_MAX, {20, UINT64_MAX, true}},
      {"65536", 65535, {5, 65535, true}},
      {"7", 5, {1, 5, true}},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.text);
    const DecimalDigits got = ReadDecimalDigits(run.text, run.max);
    EXPECT_EQ(got.length, run.expected.length);
    EXPECT_EQ(got.value, run.expected.value);
    EXPECT_EQ(got.overflow, run.expected.overflow);
    std::u16string wide(run.text.begin(), run.text.end());
    EXPECT_EQ(ReadDecimalDigits(wide, run.max).value, run.expected.value);
  }
  constexpr auto kZeros = LeadingZeros::kAllowed;
  EXPECT_EQ(ParseUnsignedDecimal("0"), 0u);
  EXPECT_EQ(ParseUnsignedDecimal("65535", 65535), 65535u);
  EXPECT_FALSE(ParseUnsignedDecimal("65536", 65535));
  EXPECT_FALSE(ParseUnsignedDecimal("007"));
  EXPECT_EQ(ParseUnsignedDecimal("007", 9, kZeros), 7u);
  EXPECT_EQ(ParseUnsignedDecimal(u"00065535", 65535, kZeros), 65535u);
  for (std::string_view bad : {"", "+1", " 1", "1 ", "0x1", "1a"}) {
    EXPECT_FALSE(ParseUnsignedDecimal(bad, UINT64_MAX, kZeros)) << bad;
  }
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

// Attribute "x" of the first element "a"; large documents in linear time.
TEST(ReadXmlAttributeTest, Cases) {
  const std::pair<std::string, const char*> cases[] = {
      {"<a\tx\r\n=\n'1'>", "1"},
      {R"(<a x='say "it's"'>)", "say \"it"},
      // Only a name after white space counts, and only with "=" and a quote.
      {R"(<a data-x="5" xx="6" x="7">)", "7"},
      {R"(<a x y="2" x="3">)", "3"},
      {"<a \vx=\"1\" \fx=\"2\">", ""},  // vertical tab and form feed are not white space
      {R"(<a x="1>2">)", ""},  // cut by the end of the tag
      {R"(<ab x="1"/><a x="2"/>)", "2"},
      // Elements inside comments are skipped.
      {R"(<!-- <a x="1"/> --><a x="2"/>)", "2"},
      {R"(<!-- open <a x="1"/>)", ""},
      {R"(<!--><a x="1"/>)", "1"},  // "<!-->" closes itself
      {R"(<!-- --><!-- <a x="1"/>)", ""},  // a later comment never closes
      // The five entities are decoded once.
      {R"(<a x="&lt;&gt;&quot;&apos;&amp;lt;&#65;&AMP;&lt a&">)", "<>\"'&lt;&#65;&AMP;&lt a&"},
  };
  for (const auto& [document, expected] : cases) {
    EXPECT_EQ(ReadXmlAttribute(document, "a", "x"), expected) << document;
  }
  // Many near-miss names after a comment: a backwards search per match would be quadratic.
  std::string document = "<!-- c -->";
  for (int i = 0; i < 200000; ++i) document += "<ab";
  EXPECT_EQ(ReadXmlAttribute(document + R"(<a x="found"/>)", "a", "x"), "found");
}

// A foreign exception's text is classified by the first marker of the table
// found in it: a code's own text, or one of the decoder's messages.
TEST(PatchErrorTest, TextsAndTheClassificationOfForeignTexts) {
  EXPECT_STREQ(PatchFailure(PatchErrorCode::DownloadFailed, u"d\u00FC").what(), "d\xC3\xBC");
  EXPECT_STREQ(PatchFailure(CodeOfNumber(42), u"").what(), "Unknown patch error");
  EXPECT_EQ(PatchFailureMessage(CodeOfNumber(5), u"h/a.lz | HTTP 404"), u"Download failed | h/a.lz | HTTP 404");
  const auto classify = [](const std::string& text) {
    return CodeNumber(ClassifyExceptionText(std::runtime_error(text)));
  };
  for (std::uint32_t code = 0; code <= 21; ++code) {  // 12 and past the end: unknown
    const std::string text = WideToUtf8(PatchErrorText(CodeOfNumber(code)));
    EXPECT_EQ(classify("x: " + text + " (y)"), code == 8 || code > 20 ? 12u : code) << text;
  }
  const std::pair<const char*, std::uint32_t> rows[] = {
      {"kv5lz decompress failed", 8}, {"kv5lz size mismatch", 8}, {"LZ payload too small", 8},
      {"MCOZ header too small", 8},   {"File in use / Write failed", 7},
      {"Release expired / Empty crclist / Write failed", 3},
  };
  for (const auto& [text, code] : rows) EXPECT_EQ(classify(text), code) << text;
}

}  // namespace
}  // namespace emberfall
