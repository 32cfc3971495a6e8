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

}  // namespace
}  // namespace emberfall
