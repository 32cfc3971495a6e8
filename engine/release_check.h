// The checks of a signed release, before anything it names is trusted: its
// document against the pinned keys, the crclist, the product and channel,
// the release record's serial and the clock; the crclist's entries against
// the document; and the program the configuration starts.
#ifndef EMBERFALL_ENGINE_RELEASE_CHECK_H_
#define EMBERFALL_ENGINE_RELEASE_CHECK_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/crypto.h"
#include "core/release_document.h"

namespace emberfall {

class ReleaseStateStore;
struct CrcListEntry;

// What a signed release must be meant for.
struct ReleaseTarget {
  std::string product;
  std::string channel;
};

// The document |bytes| fetched from |url| for the crclist |listText| and
// its |entries|: returns the authenticated document, after recording its
// serial in |state| when it is newer than the one recorded there (before any
// download: a run cut short afterwards still rules out replaying an older
// release). Throws PatchFailure with the code and the details an operator
// needs: ReleaseSignatureInvalid, ReleaseWrongChannel, ReleaseRolledBack,
// ReleaseExpired, NotInSignedRelease (an entry the document lacks or sizes
// otherwise), ReleaseStateDamaged (from |state|), WriteFailed (the serial
// could not be recorded).
ReleaseDocument AuthenticateRelease(std::string_view bytes, const std::u16string& url,
                                    std::span<const EcdsaPublicKey> keys,
                                    const ReleaseTarget& target, std::int64_t now,
                                    const std::string& listText,
                                    const std::vector<CrcListEntry>& entries,
                                    ReleaseStateStore& state);

// The signed SHA-256 of the program |runPath| (normalised, "\" separators)
// that the launcher starts with its own token; throws PatchFailure
// NotInSignedRelease naming |url| and the path when it is no file of the
// release.
Sha256Digest SignedProgramHash(const std::u16string& runPath,
                               const std::vector<CrcListEntry>& entries,
                               const ReleaseDocument& release, const std::u16string& url);

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_RELEASE_CHECK_H_
