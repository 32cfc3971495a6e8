// The persistent record of file states and their CRC-32s, kept in
// "EmbLauncher.cache" in the game folder:
//
//   EMBVC1
//   <crc %08x> <size> <last-write time> <file index> <path, UTF-8>
//   ...
//
// one record per line, LF line ends (CRLF is read too), in the order of the
// CRC list it was saved for. The cache is best effort: nothing here throws
// except on allocation failure, a damaged line is skipped, and a damaged file
// at worst makes the next run hash everything again.
#ifndef EMBERFALL_CORE_FILE_STATE_CACHE_H_
#define EMBERFALL_CORE_FILE_STATE_CACHE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/file_state.h"

namespace emberfall {

struct CrcListEntry;

inline constexpr std::u16string_view kCacheFileName = u"EmbLauncher.cache";
// The name SaveCache writes through before it moves the file into place.
inline constexpr std::u16string_view kCacheTempFileName = u"EmbLauncher.cache.tmp";

struct CacheRecord {
  std::u16string path;  // relative path as the CRC list spells it (case kept)
  FileState state;      // the file when |crc| was established
  std::uint32_t crc = 0;
};

// Records by PathKey of their path. One patch run owns one cache on its
// worker thread; no locking.
struct FileStateCache {
  std::u16string cachePath;  // full path of the cache file
  std::unordered_map<std::u16string, CacheRecord> records;
};

// Replaces |cache.records| with the records of the file at |cache.cachePath|.
// A missing or unreadable file, or a first line other than "EMBVC1", gives
// an empty cache; malformed lines are skipped one by one; a later line for
// the same key replaces an earlier one.
void LoadCache(FileStateCache& cache);

// Writes the records of the paths in |entries|, in list order, to a new
// file cachePath + ".tmp" (WriteNewFile: a link there is removed, never
// written through) and moves that onto cachePath, replacing a link there (MoveFileExW with
// MOVEFILE_REPLACE_EXISTING; POSIX: rename). Records of paths not in the
// list are left out. Returns false, with the temporary file removed and the
// previous cache file untouched, if writing or moving fails.
bool SaveCache(const FileStateCache& cache, const std::vector<CrcListEntry>& entries);

// Inserts or replaces the record under PathKey(|path|).
void RecordFileState(FileStateCache& cache, const std::u16string& path, const FileState& state,
                     std::uint32_t crc);

// The bytes SaveCache writes; exposed so tests can compare byte for byte.
std::string FormatCacheFile(const FileStateCache& cache, const std::vector<CrcListEntry>& entries);

// Parses the bytes of a cache file into |records| (cleared first).
void ParseCacheFile(std::string_view bytes, std::unordered_map<std::u16string, CacheRecord>& records);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_FILE_STATE_CACHE_H_
