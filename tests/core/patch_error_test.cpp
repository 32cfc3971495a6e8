#include "core/patch_error.h"

#include <gtest/gtest.h>

#include <string>

namespace emberfall {
namespace {

TEST(PatchErrorTest, TextsAndWhatTheyShow) {
  const char16_t* texts[] = {
      u"Could not load torrent config", u"Could not download crclist", u"Invalid crclist response",
      u"Empty crclist", u"missing crcpatch_url", u"Download failed", u"Unpack size mismatch",
      u"Write failed", u"Decompress failed", u"Checksum mismatch", u"File in use",
      u"Invalid torrent config", u"Unknown patch error", u"Release signature invalid",
      u"Release expired", u"Release rolled back", u"Signed hash mismatch",
      u"File not in signed release", u"Unknown patch error"};
  for (std::uint32_t code = 0; code < std::size(texts); ++code) {
    EXPECT_EQ(PatchErrorText(code), texts[code]) << code;
  }
  EXPECT_EQ(PatchErrorText(UINT32_MAX), u"Unknown patch error");
  EXPECT_STREQ(PatchFailure(PatchErrorCode::DownloadFailed, u"d\u00FC").what(), "d\xC3\xBC");
  EXPECT_STREQ(PatchFailure(42, u"").what(), "Unknown patch error");
  EXPECT_EQ(PatchFailure(42, u"").code(), 42u);
  EXPECT_EQ(PatchFailureMessage(4, u""), u"missing crcpatch_url");
  EXPECT_EQ(PatchFailureMessage(5, u"h/a.lz | HTTP 404"), u"Download failed | h/a.lz | HTTP 404");
}

TEST(PatchErrorTest, ClassifiesForeignTextsByTheFirstRowFoundAnywhere) {
  // The classification table in its search order.
  const std::pair<const char*, std::uint32_t> rows[] = {
      {"Could not load torrent config", 0}, {"Could not download crclist", 1},
      {"Invalid crclist response", 2},      {"Empty crclist", 3},
      {"missing crcpatch_url", 4},          {"Download failed", 5},
      {"Unpack size mismatch", 6},          {"Write failed", 7},
      {"LZ payload too small", 8},          {"kv5lz decompress failed", 8},
      {"kv5lz size mismatch", 8},           {"MCOZ header too small", 8},
      {"Checksum mismatch", 9},             {"File in use", 10},
      {"Invalid torrent config", 11},       {"Release signature invalid", 13},
      {"Release expired", 14},              {"Release rolled back", 15},
      {"Signed hash mismatch", 16},         {"File not in signed release", 17},
  };
  for (size_t first = 0; first < std::size(rows); ++first) {
    const std::string text = std::string("x: ") + rows[first].first + " (y)";
    EXPECT_EQ(ClassifyExceptionText(std::runtime_error(text)), rows[first].second) << text;
    for (size_t later = first + 1; later < std::size(rows); ++later) {
      const std::string both = std::string(rows[later].first) + " / " + rows[first].first;
      EXPECT_EQ(ClassifyExceptionText(std::runtime_error(both)), rows[first].second) << both;
    }
  }
  for (const char* text : {"", "download failed", "Write faile"}) {  // case matters
    EXPECT_EQ(ClassifyExceptionText(std::runtime_error(text)), 12u) << text;
  }
  struct NoText : std::exception {
    const char* what() const noexcept override { return nullptr; }
  };
  EXPECT_EQ(ClassifyExceptionText(NoText()), 12u);
}

}  // namespace
}  // namespace emberfall
