// The CRC list: the manifest of a published patch, one file per line with its
// CRC-32, size, payload size and path relative to the game folder.
#ifndef EMBERFALL_CORE_CRC_LIST_H_
#define EMBERFALL_CORE_CRC_LIST_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace emberfall {

struct CrcListEntry {
  std::uint32_t crc = 0;        // CRC-32 of the decoded file
  std::int64_t size = 0;        // decoded size in bytes, never negative
  std::int64_t packed_size = 0;  // published payload size; only for estimates
  std::int64_t reserved = 0;     // carried along, no meaning
  std::string path;              // as written in the list (UTF-8, either separator)
  std::u16string path_wide;      // normalised with "\" separators; the local path
};

// Parses the whole list. Entries keep the order in which each path first
// occurs; a repeated path (compared by PathKey) with the same crc and size is
// dropped, with another crc or size it is an error. Throws PatchFailure
// "Invalid crclist response" (code 2) at the first bad line. A list without
// entry lines gives an empty vector.
std::vector<CrcListEntry> ParseCrcList(std::string_view text);

// Parses one trimmed, non-comment line "crc size packed_size reserved path".
// Returns false if any field breaks the grammar or the path is not safe.
bool ParseCrcListLine(std::string_view line, CrcListEntry& entry);

// The list's entry lines, one per entry in order: "crc size packed_size
// reserved path\n", the crc as eight lower-case hex digits and the path as
// written. Every entry that ParseCrcListLine could have made reads back the
// same; the caller adds any comment lines.
std::string FormatCrcList(std::span<const CrcListEntry> entries);

// The expected download size of a job when the server gave none: the payload
// size when it is plausible (1 <= packed_size < size), else size / 4, at
// least 1. Feeds progress totals only.
std::int64_t EstimateDownloadSize(std::int64_t size, std::int64_t packed_size);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_CRC_LIST_H_
