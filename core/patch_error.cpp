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
    u"Not enough disk space",          // 21
};

struct Classification {
  const char* text;
  PatchErrorCode code;
};

// Searched in order; the first text found decides. Besides the code texts the
// table knows the payload decoder's messages, so a decoding error that reaches
// the worker as a plain runtime error still reads as "Decompress failed".
constexpr Classification kClassifications[] = {
    {"Could not load torrent config", PatchErrorCode::ConfigUnavailable},
    {"Could not download crclist", PatchErrorCode::CrcListUnavailable},
    {"Invalid crclist response", PatchErrorCode::CrcListInvalid},
    {"Empty crclist", PatchErrorCode::CrcListEmpty},
    {"missing crcpatch_url", PatchErrorCode::PatchUrlMissing},
    {"Download failed", PatchErrorCode::DownloadFailed},
    {"Unpack size mismatch", PatchErrorCode::UnpackSizeMismatch},
    {"Write failed", PatchErrorCode::WriteFailed},
    {"LZ payload too small", PatchErrorCode::DecompressFailed},
    {"kv5lz decompress failed", PatchErrorCode::DecompressFailed},
    {"kv5lz size mismatch", PatchErrorCode::DecompressFailed},
    {"MCOZ header too small", PatchErrorCode::DecompressFailed},
    {"Checksum mismatch", PatchErrorCode::ChecksumMismatch},
    {"File in use", PatchErrorCode::FileInUse},
    {"Invalid torrent config", PatchErrorCode::ConfigInvalid},
    {"Release signature invalid", PatchErrorCode::ReleaseSignatureInvalid},
    {"Release expired", PatchErrorCode::ReleaseExpired},
    {"Release rolled back", PatchErrorCode::ReleaseRolledBack},
    {"Signed hash mismatch", PatchErrorCode::SignedHashMismatch},
    {"File not in signed release", PatchErrorCode::NotInSignedRelease},
    {"Link in game folder", PatchErrorCode::LinkInGameFolder},
    {"Release for another product or channel", PatchErrorCode::ReleaseWrongChannel},
    {"Release state damaged", PatchErrorCode::ReleaseStateDamaged},
    {"Not enough disk space", PatchErrorCode::DiskSpaceInsufficient},
};

std::string WhatText(PatchErrorCode code, const std::u16string& detail) {
  return WideToUtf8(detail.empty() ? PatchErrorText(code) : detail);
}

}  // namespace

PatchFailure::PatchFailure(PatchErrorCode code, std::u16string detail,
                           std::optional<SpaceShortfall> shortfall)
    : std::runtime_error(WhatText(code, detail)),
      code_(code),
      detail_(std::move(detail)),
      shortfall_(shortfall) {}

PatchFailure PatchFailure::Prefixed(std::u16string_view prefix) const {
  return PatchFailure(code_, std::u16string(prefix) + detail_, shortfall_);
}

std::u16string PatchErrorText(PatchErrorCode code) {
  const std::uint32_t number = CodeNumber(code);
  return kErrorTexts[number < std::size(kErrorTexts) ? number : CodeNumber(PatchErrorCode::Unknown)];
}

std::u16string PatchFailureMessage(PatchErrorCode code, const std::u16string& detail) {
  std::u16string message = PatchErrorText(code);
  if (!detail.empty()) {
    message += u" | ";
    message += detail;
  }
  return message;
}

PatchErrorCode ClassifyExceptionText(const std::exception& error) {
  const char* what = error.what();
  if (what == nullptr) return PatchErrorCode::Unknown;
  const std::string_view text(what, std::strlen(what));
  for (const Classification& row : kClassifications) {
    if (text.find(row.text) != std::string_view::npos) return row.code;
  }
  return PatchErrorCode::Unknown;
}

}  // namespace emberfall
