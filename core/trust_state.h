// The launcher's record of what it has accepted from signed publications,
// kept in "EmbLauncher.trust" in the game folder:
//
//   EMBTR1
//   serial <highest release serial accepted, decimal>
//
// It is what makes a replayed older release refusable after a newer one was
// seen. Only a build or run with pinned keys reads or writes it.
#ifndef EMBERFALL_CORE_TRUST_STATE_H_
#define EMBERFALL_CORE_TRUST_STATE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace emberfall {

// The name SaveAcceptedSerial writes through beside the trust file
// (kTrustFileName) before it moves the record into place.
inline constexpr std::u16string_view kTrustTempFileName = u"EmbLauncher.trust.tmp";

// The highest serial recorded in the file at |path|; 0 when the file is
// missing, unreadable or not in the form above (nothing accepted yet).
std::uint64_t LoadAcceptedSerial(const std::u16string& path);

// The bytes SaveAcceptedSerial writes.
std::string FormatTrustState(std::uint64_t serial);

// Records |serial| at |path| by writing |path| + ".tmp" and moving it over
// |path|, so a reader sees the old or the new record, never half of one.
// Returns false, with the temporary file removed and the previous file
// untouched, if writing or moving fails.
bool SaveAcceptedSerial(const std::u16string& path, std::uint64_t serial);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_TRUST_STATE_H_
