#include "core/patch_error.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace emberfall {
namespace {

// A foreign exception's text is classified by the first marker of the table
// found in it: a code's own text, or one of the decoder's messages.
TEST(PatchErrorTest, TextsAndTheClassificationOfForeignTexts) {
  EXPECT_STREQ(PatchFailure(PatchErrorCode::DownloadFailed, u"d\u00FC").what(), "d\xC3\xBC");
  EXPECT_STREQ(PatchFailure(CodeOfNumber(42), u"").what(), "Unknown patch error");
  EXPECT_EQ(PatchFailureMessage(CodeOfNumber(5), u"h/a.lz | HTTP 404"), u"Download failed | h/a.lz | HTTP 404");
  const auto classify = [](const std::string& text) {
    return CodeNumber(ClassifyExceptionText(std::runtime_error(text)));
  };
  for (std::uint32_t code = 0; code <= 22; ++code) {  // 12 and past the end: unknown
    const std::string text = WideToUtf8(PatchErrorText(CodeOfNumber(code)));
    EXPECT_EQ(classify("x: " + text + " (y)"), code == 8 || code > 21 ? 12u : code) << text;
  }
  const std::pair<const char*, std::uint32_t> rows[] = {
      {"kv5lz decompress failed", 8}, {"kv5lz size mismatch", 8}, {"LZ payload too small", 8},
      {"MCOZ header too small", 8},   {"File in use / Write failed", 7},
      {"Release expired / Empty crclist / Write failed", 3},
  };
  for (const auto& [text, code] : rows) EXPECT_EQ(classify(text), code) << text;
}

// A failure passed on with more said before its detail keeps its code and,
// for a full volume, its amounts.
TEST(PatchErrorTest, APrefixedFailureKeepsItsCodeAndAmounts) {
  const PatchFailure space(PatchErrorCode::DiskSpaceInsufficient, u"G", SpaceShortfall{5, 3});
  const PatchFailure write(PatchErrorCode::WriteFailed, u"");
  for (const PatchFailure& failure : {space, write}) {
    const PatchFailure passed = failure.Prefixed(u"u | ");
    EXPECT_EQ(passed.code(), failure.code());
    EXPECT_EQ(passed.detail(), u"u | " + failure.detail());
    EXPECT_EQ(passed.what(), "u | " + WideToUtf8(failure.detail()));
    EXPECT_EQ(passed.shortfall(), failure.shortfall());
  }
  EXPECT_EQ(space.Prefixed(u"").shortfall(), (SpaceShortfall{5, 3}));
}

}  // namespace
}  // namespace emberfall
