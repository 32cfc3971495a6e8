#include "core/patch_error.h"

#include <gtest/gtest.h>

#include <string>

namespace emberfall {
namespace {

// Code, the code's text, and a foreign exception text classified as it (in
// the classification's search order).
struct Row {
  std::uint32_t code;
  const char16_t* text;
  const char* found;
};
constexpr Row kRows[] = {
    {0, u"Could not load torrent config", "Could not load torrent config"},
    {1, u"Could not download crclist", "Could not download crclist"},
    {2, u"Invalid crclist response", "Invalid crclist response"},
    {3, u"Empty crclist", "Empty crclist"},
    {4, u"missing crcpatch_url", "missing crcpatch_url"},
    {5, u"Download failed", "Download failed"},
    {6, u"Unpack size mismatch", "Unpack size mismatch"},
    {7, u"Write failed", "Write failed"},
    {8, u"Decompress failed", "LZ payload too small"},
    {8, u"Decompress failed", "kv5lz decompress failed"},
    {8, u"Decompress failed", "kv5lz size mismatch"},
    {8, u"Decompress failed", "MCOZ header too small"},
    {9, u"Checksum mismatch", "Checksum mismatch"},
    {10, u"File in use", "File in use"},
    {11, u"Invalid torrent config", "Invalid torrent config"},
    {13, u"Release signature invalid", "Release signature invalid"},
    {14, u"Release expired", "Release expired"},
    {15, u"Release rolled back", "Release rolled back"},
    {16, u"Signed hash mismatch", "Signed hash mismatch"},
    {17, u"File not in signed release", "File not in signed release"},
    {12, u"Unknown patch error", "download failed"},  // case matters
    {18, u"Unknown patch error", "Write faile"},
    {UINT32_MAX, u"Unknown patch error", ""},
};

TEST(PatchErrorTest, TextsAndClassification) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.found);
    EXPECT_EQ(PatchErrorText(row.code), row.text);
    const std::uint32_t classified = row.code <= 17 ? row.code : 12;
    EXPECT_EQ(ClassifyExceptionText(std::runtime_error(std::string("x: ") + row.found + " (y)")),
              classified);
  }
  // An earlier row wins wherever it stands in the text.
  for (size_t first = 0; first < 20; ++first) {
    for (size_t later = first + 1; later < 20; ++later) {
      const std::string text = std::string(kRows[later].found) + " / " + kRows[first].found;
      SCOPED_TRACE(text);
      EXPECT_EQ(ClassifyExceptionText(std::runtime_error(text)), kRows[first].code);
    }
  }
  struct NoText : std::exception {
    const char* what() const noexcept override { return nullptr; }
  };
  EXPECT_EQ(ClassifyExceptionText(NoText()), 12u);
}

TEST(PatchErrorTest, WhatAndMessageShowTheDetailOrElseTheCodeText) {
  const PatchFailure with_detail(PatchErrorCode::DownloadFailed, u"d\u00FC | HTTP 404");
  EXPECT_STREQ(with_detail.what(), "d\xC3\xBC | HTTP 404");
  EXPECT_EQ(with_detail.code(), 5u);
  EXPECT_STREQ(PatchFailure(42, u"").what(), "Unknown patch error");
  EXPECT_STREQ(PatchFailure(PatchErrorCode::PatchUrlMissing, u"").what(), "missing crcpatch_url");
  EXPECT_EQ(PatchFailureMessage(4, u""), u"missing crcpatch_url");
  EXPECT_EQ(PatchFailureMessage(5, u"http://h/a.lz | HTTP 404"),
            u"Download failed | http://h/a.lz | HTTP 404");
}

}  // namespace
}  // namespace emberfall
