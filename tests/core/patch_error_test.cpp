#include "core/patch_error.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

namespace emberfall {
namespace {

TEST(PatchErrorTest, TextsAndWhatTheyShow) {
  for (std::uint32_t code : {12u, 18u, UINT32_MAX}) {
    EXPECT_EQ(PatchErrorText(code), u"Unknown patch error");
  }
  EXPECT_STREQ(PatchFailure(PatchErrorCode::DownloadFailed, u"d\u00FC").what(), "d\xC3\xBC");
  EXPECT_STREQ(PatchFailure(42, u"").what(), "Unknown patch error");
  EXPECT_EQ(PatchFailure(42, u"").code(), 42u);
  EXPECT_EQ(PatchFailureMessage(4, u""), u"missing crcpatch_url");
  EXPECT_EQ(PatchFailureMessage(5, u"h/a.lz | HTTP 404"), u"Download failed | h/a.lz | HTTP 404");
}

// The classification table in its search order; the texts are the codes' own.
TEST(PatchErrorTest, ClassifiesForeignTextsByTheFirstRowFoundAnywhere) {
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
    const auto [text, code] = rows[first];
    EXPECT_EQ(code == 8 ? "Decompress failed" : text, WideToUtf8(PatchErrorText(code)));
    EXPECT_EQ(ClassifyExceptionText(std::runtime_error(std::string("x: ") + text + " (y)")), code);
    for (size_t later = first + 1; later < std::size(rows); ++later) {
      const std::string both = std::string(rows[later].first) + " / " + text;
      EXPECT_EQ(ClassifyExceptionText(std::runtime_error(both)), code) << both;
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
