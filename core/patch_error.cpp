#include "core/patch_error.h"

#include <cstring>
#include <iterator>
#include <string_view>

#include "core/text.h"

namespace emberfall {
namespace {

constexpr const char16_t* kErrorTexts[] = {
    u"Could not load torrent config",  // 0
    u"Could not download crclist",     // 1
    u"Invalid crclist response",       // 2
    u"Empty crclist",                  // 3
    u"missing crcpatch_url",           // 4
    u"Download failed",                // 5
    u"Unpack size mismatch",           // 6
    u"Write failed",                   // 7
    u"Decompress failed",              // 8
    u"Checksum mismatch",              // 9
    u"File in use",                    // 10
    u"Invalid torrent config",         // 11
    u"Unknown patch error",            // 12
    u"Release signature invalid",      // 13
    u"Release expired",                // 14
    u"Release rolled back",            // 15
    u"Signed hash mismatch",           // 16
    u"File not in signed release",     // 17
    u"Link in game folder",            // 18
    u"Release for another product or channel",  // 19
    u"Release state damaged",          // 20
};

struct Classification {
  const char* text;
  std::uint32_t code;
};

// Searched in order; the first text found decides. Besides the code texts the
// table knows the payload decoder's messages, so a decoding error that reaches
// the worker as a plain runtime error still reads as "Decompress failed".
constexpr Classification kClassifications[] = {
    {"Could not load torrent config", 0},
    {"Could not download crclist", 1},
    {"Invalid crclist response", 2},
    {"Empty crclist", 3},
    {"missing crcpatch_url", 4},
    {"Download failed", 5},
    {"Unpack size mismatch", 6},
    {"Write failed", 7},
    {"LZ payload too small", 8},
    {"kv5lz decompress failed", 8},
    {"kv5lz size mismatch", 8},
    {"MCOZ header too small", 8},
    {"Checksum mismatch", 9},
    {"File in use", 10},
    {"Invalid torrent config", 11},
    {"Release signature invalid", 13},
    {"Release expired", 14},
    {"Release rolled back", 15},
    {"Signed hash mismatch", 16},
    {"File not in signed release", 17},
    {"Link in game folder", 18},
    {"Release for another product or channel", 19},
    {"Release state damaged", 20},
};

std::string WhatText(std::uint32_t code, const std::u16string& detail) {
  return WideToUtf8(detail.empty() ? PatchErrorText(code) : detail);
}

}  // namespace

PatchFailure::PatchFailure(std::uint32_t code, std::u16string detail)
    : std::runtime_error(WhatText(code, detail)), code_(code), detail_(std::move(detail)) {}

std::u16string PatchErrorText(std::uint32_t code) {
  constexpr std::uint32_t kUnknown = static_cast<std::uint32_t>(PatchErrorCode::Unknown);
  return kErrorTexts[code < std::size(kErrorTexts) ? code : kUnknown];
}

std::u16string PatchFailureMessage(std::uint32_t code, const std::u16string& detail) {
  std::u16string message = PatchErrorText(code);
  if (!detail.empty()) {
    message += u" | ";
    message += detail;
  }
  return message;
}

std::uint32_t ClassifyExceptionText(const std::exception& error) {
  const char* what = error.what();
  if (what == nullptr) return static_cast<std::uint32_t>(PatchErrorCode::Unknown);
  const std::string_view text(what, std::strlen(what));
  for (const Classification& row : kClassifications) {
    if (text.find(row.text) != std::string_view::npos) return row.code;
  }
  return static_cast<std::uint32_t>(PatchErrorCode::Unknown);
}

}  // namespace emberfall
