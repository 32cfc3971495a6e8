#include "engine/release_check.h"

#include <utility>

#include "core/crc_list.h"
#include "core/patch_error.h"
#include "core/release_state.h"
#include "core/text.h"

namespace emberfall {
namespace {

std::u16string HexWide(const Sha256Digest& digest) { return Utf8ToWide(HexEncode(digest)); }

// The failure a release document's verdict stands for, with the details an
// operator needs to tell a stale mirror from an attack.
[[noreturn]] void FailRelease(ReleaseVerdict verdict, const std::u16string& url,
                              const std::string& reason, const ReleaseDocument& document,
                              std::string_view crclist, std::uint64_t accepted,
                              const ReleaseTarget& target) {
  std::u16string detail = url + u" | " + Utf8ToWide(ReleaseVerdictText(verdict));
  PatchErrorCode code = PatchErrorCode::ReleaseSignatureInvalid;
  switch (verdict) {
    case ReleaseVerdict::kMalformed:
      if (!reason.empty()) detail += u": " + Utf8ToWideLenient(reason);
      break;
    case ReleaseVerdict::kWrongChannel:
      code = PatchErrorCode::ReleaseWrongChannel;
      detail += u" | product " + Utf8ToWide(document.product) + u", channel " +
                Utf8ToWide(document.channel) + u"; expected product " +
                Utf8ToWide(target.product) + u", channel " + Utf8ToWide(target.channel);
      break;
    case ReleaseVerdict::kCrcListMismatch:
      detail += u" | expected=" + HexWide(document.crclist_sha256) +
                u" got=" + HexWide(Sha256Of(crclist));
      break;
    case ReleaseVerdict::kRolledBack:
      code = PatchErrorCode::ReleaseRolledBack;
      detail += u" | serial " + ToWideDecimalUnsigned(document.serial) +
                u", accepted " + ToWideDecimalUnsigned(accepted);
      break;
    case ReleaseVerdict::kExpired:
      code = PatchErrorCode::ReleaseExpired;
      detail += u" | expires " + Utf8ToWide(FormatUtcTime(document.expires));
      break;
    default:
      break;
  }
  throw PatchFailure(code, std::move(detail));
}

// The crclist is the signed one, so a gap here is the publisher's mistake; it
// still must not let an unsigned file through.
void RequireEverySignedEntry(const ReleaseDocument& document,
                             const std::vector<CrcListEntry>& entries, const std::u16string& url) {
  for (const CrcListEntry& entry : entries) {
    const auto it = document.files.find(entry.path);
    if (it == document.files.end()) {
      throw PatchFailure(PatchErrorCode::NotInSignedRelease,
                         url + u" | " + entry.path_wide + u" | not listed");
    }
    if (it->second.size != entry.size) {
      throw PatchFailure(PatchErrorCode::NotInSignedRelease,
                         url + u" | " + entry.path_wide + u" | expected=" +
                             ToWideDecimal(it->second.size) + u" got=" + ToWideDecimal(entry.size));
    }
  }
}

}  // namespace

ReleaseDocument AuthenticateRelease(std::string_view bytes, const std::u16string& url,
                                    std::span<const EcdsaPublicKey> keys,
                                    const ReleaseTarget& target, std::int64_t now,
                                    const std::string& listText,
                                    const std::vector<CrcListEntry>& entries,
                                    ReleaseStateStore& state) {
  const std::uint64_t accepted = state.Load();
  ReleaseDocument document;
  std::string reason;
  const ReleaseVerdict verdict = VerifyReleaseDocument(bytes, keys, target.product, target.channel,
                                                       now, listText, accepted, &document, &reason);
  if (verdict != ReleaseVerdict::kOk) {
    FailRelease(verdict, url, reason, document, listText, accepted, target);
  }
  RequireEverySignedEntry(document, entries, url);
  if (document.serial > accepted && !state.Save(document.serial)) {
    throw PatchFailure(PatchErrorCode::WriteFailed,
                       state.Describe() + u" | cannot record the release serial");
  }
  return document;
}

// The launcher starts run_path with its own elevated token, while the
// configuration that names it is unsigned.
Sha256Digest SignedProgramHash(const std::u16string& runPath,
                               const std::vector<CrcListEntry>& entries,
                               const ReleaseDocument& release, const std::u16string& url) {
  const std::u16string key = PathKey(runPath);
  for (const CrcListEntry& entry : entries) {
    if (PathKey(entry.path_wide) == key) return release.files.at(entry.path).sha256;
  }
  throw PatchFailure(PatchErrorCode::NotInSignedRelease,
                     url + u" | " + runPath +
                         u" | the program the configuration starts is not a signed file");
}

}  // namespace emberfall
