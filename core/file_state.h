// Does the local copy of a published file already have the published size
// and CRC-32? Answered from the file system's own identity of a file (size,
// last-write time, file index) plus a cache of earlier hashes, so that an
// unchanged file is not read again.
#ifndef EMBERFALL_CORE_FILE_STATE_H_
#define EMBERFALL_CORE_FILE_STATE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "core/file_handle.h"

namespace emberfall {

struct CrcListEntry;
struct FileStateCache;
class HashBuffer;

// The identity of a file's contents as the file system reports it, all three
// from one GetFileInformationByHandle call. POSIX: st_size, st_mtim as
// 100-ns intervals since 1601-01-01 UTC, and the inode number.
struct FileState {
  std::uint64_t size = 0;
  std::uint64_t lastWriteTime = 0;
  std::uint64_t fileIndex = 0;

  friend bool operator==(const FileState&, const FileState&) = default;
};

// Opens |path| for attribute queries only (FILE_READ_ATTRIBUTES with full
// sharing; POSIX: O_PATH), which works even on a file that may not be read.
// Returns an invalid handle on failure.
FileHandle OpenForAttributes(const std::u16string& path);

// Opens |path| for reading front to back (GENERIC_READ, full sharing,
// FILE_FLAG_SEQUENTIAL_SCAN; POSIX: O_RDONLY with the sequential advice).
// Returns an invalid handle on failure.
FileHandle OpenForSequentialRead(const std::u16string& path);

// The state of an open file; nullopt if the query fails or the handle is a
// directory (POSIX: anything but a regular file).
std::optional<FileState> QueryFileState(const FileHandle& file);

// The state of the file at |path|, through an attribute-only open.
std::optional<FileState> QueryFileState(const std::u16string& path);

// True only if the file |entry.path_wide| under |gameFolder| exists with the
// entry's size and CRC-32. A file whose size, last-write time and file index
// equal those of its record in |cache| is judged by the record alone and not
// read; otherwise it is hashed and, when |cache| is given, its record
// replaced (also when the CRC differs). |cache| may be null. A file is
// hashed through |buffer|; a null |buffer| makes one for this call only,
// which suits a single check but not a verification pass. Never throws
// except on allocation failure; an unreadable file simply does not match.
bool FileMatchesEntry(const CrcListEntry& entry, const std::u16string& gameFolder,
                      FileStateCache* cache, HashBuffer* buffer = nullptr);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_FILE_STATE_H_
