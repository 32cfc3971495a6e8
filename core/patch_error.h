// The failure model of the patch core: every failure of a patch run is a
// PatchFailure (a code, an English detail and, for a full volume, the typed
// amounts); a cancelled run unwinds with PatchCancelled, which is never
// reported.
#ifndef EMBERFALL_CORE_PATCH_ERROR_H_
#define EMBERFALL_CORE_PATCH_ERROR_H_

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace emberfall {

enum class PatchErrorCode : std::uint32_t {
  ConfigUnavailable = 0,
  CrcListUnavailable = 1,
  CrcListInvalid = 2,
  CrcListEmpty = 3,
  PatchUrlMissing = 4,
  DownloadFailed = 5,
  UnpackSizeMismatch = 6,
  WriteFailed = 7,
  DecompressFailed = 8,
  ChecksumMismatch = 9,
  FileInUse = 10,
  ConfigInvalid = 11,
  Unknown = 12,
  // Signed publications: only a launcher or run with a pinned key sees these.
  ReleaseSignatureInvalid = 13,  // crclist.sig missing, malformed, not signed
                                 // by a pinned key, or for another crclist
  ReleaseExpired = 14,
  ReleaseRolledBack = 15,        // serial below the highest accepted here
  SignedHashMismatch = 16,       // a decoded file is not the one signed
  NotInSignedRelease = 17,       // a crclist entry the document lacks, or
                                 // whose size it signs differently
  LinkInGameFolder = 18,         // a folder below the game folder is a link
  ReleaseWrongChannel = 19,      // signed for another product or channel
  ReleaseStateDamaged = 20,      // the record of accepted releases is unreadable
  DiskSpaceInsufficient = 21,    // the game folder's volume cannot hold the update
};

// The number of a code where one leaves the program (a report, a test's
// expectation); the code of such a number, any value carried as it is.
constexpr std::uint32_t CodeNumber(PatchErrorCode code) { return static_cast<std::uint32_t>(code); }
constexpr PatchErrorCode CodeOfNumber(std::uint32_t number) { return static_cast<PatchErrorCode>(number); }

// What a volume lacks for a run, in bytes: what the run may add at its peak
// and what the volume has free. The detail says it in English for logs; the
// face prints these numbers, never ones read back from a text.
struct SpaceShortfall {
  std::int64_t needed = 0;
  std::int64_t free = 0;

  bool operator==(const SpaceShortfall&) const = default;
};

// A failed step of a patch run. what() is the UTF-8 detail, or the code's
// English text when the detail is empty. |shortfall| belongs to
// DiskSpaceInsufficient; other codes leave it empty.
class PatchFailure : public std::runtime_error {
 public:
  PatchFailure(PatchErrorCode code, std::u16string detail,
               std::optional<SpaceShortfall> shortfall = std::nullopt);

  PatchErrorCode code() const { return code_; }
  const std::u16string& detail() const { return detail_; }
  const std::optional<SpaceShortfall>& shortfall() const { return shortfall_; }

  // The same failure told by a step that knows more (the URL of a job):
  // |prefix| before the detail, the code and the shortfall as they are.
  PatchFailure Prefixed(std::u16string_view prefix) const;

 private:
  PatchErrorCode code_;
  std::u16string detail_;
  std::optional<SpaceShortfall> shortfall_;
};

// Unwinds a cancelled run. Deliberately not a std::exception, so that no
// handler meant for failures can swallow it.
struct PatchCancelled {};

// The English text of a code; "Unknown patch error" for Unknown and any
// value past the last code.
std::u16string PatchErrorText(PatchErrorCode code);

// The English failure message: the code's text, then " | " and the detail
// when the detail is not empty.
std::u16string PatchFailureMessage(PatchErrorCode code, const std::u16string& detail);

// Maps a foreign exception to a code by looking for known failure texts in
// its what() text; Unknown when none occurs.
PatchErrorCode ClassifyExceptionText(const std::exception& error);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_PATCH_ERROR_H_
