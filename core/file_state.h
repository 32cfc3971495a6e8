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
#include <span>
#include <string>
#include <vector>

#include "core/crypto.h"
#include "core/file_handle.h"
#include "core/game_folder.h"

namespace emberfall {

struct CrcListEntry;
struct FileStateCache;
struct VerifiedHashes;
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

// The same two inside a held folder, never following a link at |name|: a
// link opened for attributes has no FileState, and one opened for reading
// fails. (A Windows reparse point that redirects no name, such as a cloud
// placeholder, is opened as the file it is.)
FileHandle OpenForAttributesAt(const HeldFolder& folder, std::u16string_view name);
FileHandle OpenForSequentialReadAt(const HeldFolder& folder, std::u16string_view name);

// Opens |name| in |folder| for reading, not following a link, so that nobody
// can change or delete the file while the handle lives (Windows: read
// sharing only; POSIX, which has no such lock, at least keeps naming the same
// file). For checking a program right before it is started.
FileHandle OpenForLaunchAt(const HeldFolder& folder, std::u16string_view name);

// Opens a file of the launcher's own (cache, records) for reading; a link at
// |path| is not followed and fails the open.
FileHandle OpenOwnFileForRead(const std::u16string& path);

// Reads a file of the launcher's own whole, through OpenOwnFileForRead;
// false when it cannot be read or is larger than |limit|.
bool ReadOwnFile(const std::u16string& path, std::uint64_t limit, std::string& bytes);

// The state of an open file; nullopt if the query fails or the handle is a
// directory (POSIX: anything but a regular file).
std::optional<FileState> QueryFileState(const FileHandle& file);

// The state of the file at |path|, through an attribute-only open.
std::optional<FileState> QueryFileState(const std::u16string& path);

// The state of |relative| below |root|, reached without following a link;
// nullopt when there is none to read.
std::optional<FileState> QueryFileStateBelow(const GameFolder& root, std::u16string_view relative);

// What checking one file against its entry found.
struct FileCheck {
  bool matches = false;
  // Set when the file was read and hashed: its state then, and |crc| is its
  // CRC-32 (whether or not that is the entry's), |sha256| its SHA-256 when
  // one was asked for.
  std::optional<FileState> hashedState;
  std::uint32_t crc = 0;
  std::optional<Sha256Digest> sha256;
  // A folder of the path is a link: the folder, as the root was named. The
  // file was not looked at.
  std::u16string linkAt;
};

// What a check compares a file with besides its CRC-list entry. Several
// threads may check at once against records that nobody writes meanwhile.
struct CheckRecords {
  const FileStateCache* cache = nullptr;      // CRC-32s of known file states
  const VerifiedHashes* verified = nullptr;   // SHA-256s of known file states
};

// FileMatchesEntry without the record updates, below an open game folder,
// its folders found through |cursor| (one per thread, like |buffer|). With
// |signedHash| the file must also have that SHA-256: one read gives both
// sums, and a file whose state has a record of each is not read at all.
// Records are only read; the caller records what the check hashed.
FileCheck CheckFile(const CrcListEntry& entry, const GameFolder& root, const CheckRecords& records,
                    const Sha256Digest* signedHash, HashBuffer& buffer, FolderCursor& cursor);

// CheckFile for every entry, on |threads| threads at most (this one among
// them), each taking the next entry with a buffer of its own; the result is
// in |entries| order. |signedHashes| is empty, or holds the signed SHA-256 of
// each entry. |beforeEach(i, done)| runs on the calling thread before each
// entry that thread takes (|done| entries are finished by then). Once
// |*cancel| is set (may be null) the checks stop early and the result is
// incomplete: callers must look at the flag. Rethrows the first exception of
// any thread, after all of them have ended.
std::vector<FileCheck> CheckFiles(const std::vector<CrcListEntry>& entries, const GameFolder& root,
                                  const CheckRecords& records,
                                  std::span<const Sha256Digest> signedHashes, unsigned threads,
                                  const std::atomic<bool>* cancel,
                                  const std::function<void(size_t i, size_t done)>& beforeEach);

// True only if the file |entry.path_wide| under |gameFolder| exists with the
// entry's size and CRC-32. A file whose size, last-write time and file index
// equal those of its record in |cache| is judged by the record alone and not
// read; otherwise it is hashed and, when |cache| is given, its record
// replaced (also when the CRC differs). |cache| may be null. A file is
// hashed through |buffer|; a null |buffer| makes one for this call only,
// which suits a single check but not a verification pass. No link below the
// game folder is followed (such a file does not match). Never throws except
// on allocation failure; an unreadable file simply does not match.
bool FileMatchesEntry(const CrcListEntry& entry, const std::u16string& gameFolder,
                      FileStateCache* cache, HashBuffer* buffer = nullptr);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_FILE_STATE_H_
