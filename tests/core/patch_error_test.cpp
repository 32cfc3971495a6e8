#include "core/patch_error.h"

#include <gtest/gtest.h>

#include <string>

namespace emberfall {
namespace {

TEST(PatchErrorTextTest, EveryCodeHasItsEnglishText) {
  const char16_t* expected[] = {
      u"Could not load torrent config", u"Could not download crclist", u"Invalid crclist response",
      u"Empty crclist",                 u"missing crcpatch_url",       u"Download failed",
      u"Unpack size mismatch",          u"Write failed",               u"Decompress failed",
      u"Checksum mismatch",             u"File in use",                u"Invalid torrent config",
      u"Unknown patch error",           u"Release signature invalid",  u"Release expired",
      u"Release rolled back",           u"Signed hash mismatch",       u"File not in signed release",
  };
  for (std::uint32_t code = 0; code < 18; ++code) {
    SCOPED_TRACE(code);
    EXPECT_EQ(PatchErrorText(code), expected[code]);
  }
  EXPECT_EQ(PatchErrorText(18), u"Unknown patch error");
  EXPECT_EQ(PatchErrorText(42), u"Unknown patch error");
  EXPECT_EQ(PatchErrorText(UINT32_MAX), u"Unknown patch error");
}

TEST(PatchFailureTest, WhatIsTheDetailOrElseTheCodeText) {
  const PatchFailure with_detail(PatchErrorCode::DownloadFailed, u"http://h/a.lz | HTTP 404");
  EXPECT_STREQ(with_detail.what(), "http://h/a.lz | HTTP 404");
  EXPECT_EQ(with_detail.code(), 5u);
  EXPECT_EQ(with_detail.detail(), u"http://h/a.lz | HTTP 404");

  const PatchFailure without(PatchErrorCode::PatchUrlMissing, u"");
  EXPECT_STREQ(without.what(), "missing crcpatch_url");
  EXPECT_EQ(without.detail(), u"");

  const PatchFailure unicode(7, u"d\u00FC\u015F | write err=5");
  EXPECT_STREQ(unicode.what(), "d\xC3\xBC\xC5\x9F | write err=5");

  const PatchFailure odd(42, u"");
  EXPECT_STREQ(odd.what(), "Unknown patch error");
  EXPECT_EQ(odd.code(), 42u);
}

TEST(PatchFailureMessageTest, JoinsTheDetailOnlyWhenPresent) {
  EXPECT_EQ(PatchFailureMessage(4, u""), u"missing crcpatch_url");
  EXPECT_EQ(PatchFailureMessage(5, u"http://h/a.lz | HTTP 404"),
            u"Download failed | http://h/a.lz | HTTP 404");
  EXPECT_EQ(PatchFailureMessage(42, u"x"), u"Unknown patch error | x");
}

struct Row {
  const char* text;
  std::uint32_t code;
};

// The classification table, in its search order.
constexpr Row kRows[] = {
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

TEST(ClassifyExceptionTextTest, FindsEachTextAnywhere) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ClassifyExceptionText(std::runtime_error(row.text)), row.code);
    EXPECT_EQ(ClassifyExceptionText(std::runtime_error(std::string("x: ") + row.text + " (y)")),
              row.code);
  }
}

TEST(ClassifyExceptionTextTest, EarlierRowsWinWhateverTheirPosition) {
  for (size_t first = 0; first < std::size(kRows); ++first) {
    for (size_t later = first + 1; later < std::size(kRows); ++later) {
      const std::string text = std::string(kRows[later].text) + " / " + kRows[first].text;
      SCOPED_TRACE(text);
      EXPECT_EQ(ClassifyExceptionText(std::runtime_error(text)), kRows[first].code);
    }
  }
}

TEST(ClassifyExceptionTextTest, UnknownOrMissingTextsAreCode12) {
  EXPECT_EQ(ClassifyExceptionText(std::runtime_error("")), 12u);
  EXPECT_EQ(ClassifyExceptionText(std::runtime_error("disk on fire")), 12u);
  EXPECT_EQ(ClassifyExceptionText(std::runtime_error("download failed")), 12u);  // case matters
  EXPECT_EQ(ClassifyExceptionText(std::runtime_error("Write faile")), 12u);
  struct NoText : std::exception {
    const char* what() const noexcept override { return nullptr; }
  };
  EXPECT_EQ(ClassifyExceptionText(NoText()), 12u);
}

}  // namespace
}  // namespace emberfall
