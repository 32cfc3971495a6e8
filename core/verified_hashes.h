// The record of files whose SHA-256 was checked against a signed release,
// kept in "EmbLauncher.hashes" beside the file-state cache:
//
//   EMBSH1
//   <SHA-256, 64 lower-case hex digits> <size> <last-write time> <file index> <path, UTF-8>
//   ...
//
// A file counts as verified only while its size, last-write time and file
// index are those recorded with the hash, exactly as the cache trusts a
// CRC-32. The record lets a signed run skip reading files it has already
// proven, as the cache does for unsigned runs; it is written only by signed
// runs and only with hashes that matched the signed document. The cache's
// own format stays as it is, so older launchers keep reading it.
#ifndef EMBERFALL_CORE_VERIFIED_HASHES_H_
#define EMBERFALL_CORE_VERIFIED_HASHES_H_

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/crypto.h"
#include "core/file_state.h"

namespace emberfall {

struct CrcListEntry;

inline constexpr std::u16string_view kVerifiedHashesFileName = u"EmbLauncher.hashes";
inline constexpr std::u16string_view kVerifiedHashesTempFileName = u"EmbLauncher.hashes.tmp";

struct VerifiedHash {
  std::u16string path;  // as the CRC list spells it
  FileState state;      // the file when its hash was checked
  Sha256Digest sha256{};
};

// Records by PathKey of their path; one run owns it on its worker thread.
struct VerifiedHashes {
  std::u16string filePath;  // full path of the record file
  std::unordered_map<std::u16string, VerifiedHash> records;
};

// Replaces the records with those of the file at |hashes.filePath| (read
// without following a link there, at most 512 MiB). Best effort: a missing,
// damaged or foreign file gives no records, a malformed line is skipped.
void LoadVerifiedHashes(VerifiedHashes& hashes);

// Writes the records of the paths in |entries|, in list order, through a
// temporary file as SaveCache does. False when that fails; the old file then
// stays.
bool SaveVerifiedHashes(const VerifiedHashes& hashes, const std::vector<CrcListEntry>& entries);

void RecordVerifiedHash(VerifiedHashes& hashes, const std::u16string& path,
                        const FileState& state, const Sha256Digest& sha256);

// The recorded hash of |path| if it was taken in exactly |state|.
const Sha256Digest* FindVerifiedHash(const VerifiedHashes& hashes, std::u16string_view path,
                                     const FileState& state);

// The bytes SaveVerifiedHashes writes, and their parser (records cleared
// first); exposed for the tests.
std::string FormatVerifiedHashes(const VerifiedHashes& hashes,
                                 const std::vector<CrcListEntry>& entries);
void ParseVerifiedHashes(std::string_view bytes,
                         std::unordered_map<std::u16string, VerifiedHash>& records);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_VERIFIED_HASHES_H_
