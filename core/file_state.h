// Does the local copy of a published file already have the published size
// and CRC-32? Answered from the file system's own identity of a file (size,
// last-write time, file index) plus a cache of earlier hashes, so that an
// unchanged file is not read again.
#ifndef EMBERFALL_CORE_FILE_STATE_H_
#define EMBERFALL_CORE_FILE_STATE_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// What checking one file against its entry found.
struct FileCheck {
  bool matches = false;
  // Set when the file was read and hashed: its state then, and |crc| is its
  // CRC-32 (whether or not that is the entry's).
  std::optional<FileState> hashedState;
  std::uint32_t crc = 0;
};

// FileMatchesEntry without the cache update: |cache| (may be null) is only
// read, and the caller records what the check hashed. Several threads may
// check at once against one cache that nobody writes meanwhile, each with a
// buffer of its own.
FileCheck CheckFile(const CrcListEntry& entry, const std::u16string& gameFolder,
                    const FileStateCache* cache, HashBuffer& buffer);

// CheckFile for every entry, on |threads| threads at most (this one among
// them), each taking the next entry with a buffer of its own; the result is
// in |entries| order. |beforeEach(i, done)| runs on the calling thread
// before each entry that thread takes (|done| entries are finished by then).
// Once |*cancel| is set (may be null) the checks stop early and the result
// is incomplete: callers must look at the flag. Rethrows the first exception
// of any thread, after all of them have ended.
std::vector<FileCheck> CheckFiles(const std::vector<CrcListEntry>& entries,
                                  const std::u16string& gameFolder, const FileStateCache* cache,
                                  unsigned threads, const std::atomic<bool>* cancel,
                                  const std::function<void(size_t i, size_t done)>& beforeEach);

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
