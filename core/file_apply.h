// Putting one decoded, checked file in place under the game folder: the new
// contents go to a staged file next to the target, reach the disk, and are
// swapped in with one atomic replace, so the target always holds either its
// complete old or its complete new contents. A target locked by another
// program is retried for about two seconds; the launcher's own running
// executable is first moved aside to "<exe>.old".
//
// The launcher runs elevated, yet the player can write the game folder, so a
// link planted there would aim an elevated write anywhere. Nothing here
// writes, deletes or changes attributes through a symbolic link or junction:
// the folders of a target are walked from the game folder without following
// one (GameFolder) and held while the file is put in place, staged files are
// created exclusively, and a link at a target is replaced, not followed.
//
// Error numbers are Win32 error codes on every platform; the POSIX side maps
// errno onto the nearest code (see file_apply_posix.cpp).
#ifndef EMBERFALL_CORE_FILE_APPLY_H_
#define EMBERFALL_CORE_FILE_APPLY_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/game_folder.h"

namespace emberfall {

inline constexpr std::u16string_view kStagedSuffix = u".emb-new";
inline constexpr std::u16string_view kBackupSuffix = u".old";
// The largest single write of a staged file.
inline constexpr size_t kLargestWriteBytes = 16777216;
// The pieces a ContentSource is asked for.
inline constexpr size_t kStreamPieceBytes = 1048576;
// MoveFileExW flags, the same numbers on every platform.
inline constexpr std::uint32_t kMoveReplaceExisting = 1;  // MOVEFILE_REPLACE_EXISTING
inline constexpr std::uint32_t kMoveWriteThrough = 8;     // MOVEFILE_WRITE_THROUGH
inline constexpr int kReplaceAttempts = 9;
inline constexpr std::uint32_t kReplacePauseMilliseconds = 250;

// Win32 error codes this part names.
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorWriteFault = 29;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorLockViolation = 33;
inline constexpr std::uint32_t kErrorUserMappedFile = 1224;

// True exactly for 32, 33, 5 and 1224: errors that mean another program
// holds the file, and that are retried.
bool IsFileInUseError(std::uint32_t error);

// Deletes the file at |path|, read-only or not. A symbolic link or junction
// at |path| is deleted itself; its target is never touched, not even its
// attributes. Does nothing if there is no such file; a real folder stays;
// never fails (a file that cannot be deleted stays).
void RemoveFileIfExists(const std::u16string& path);

// Creates |path| as a new file, writes |size| bytes in pieces of at most
// kLargestWriteBytes, flushes them to disk and closes it. Fails when any
// file, folder or link already holds the name, and never follows a link, so
// nothing planted at |path| is ever written through. Returns 0 or the first
// error; a file that was created stays for the caller to remove.
std::uint32_t WriteExclusiveFile(const std::u16string& path, const std::uint8_t* data,
                                 size_t size);

// Puts |bytes| into a new file at |path|: removes whatever file or link holds
// the name (RemoveFileIfExists), then WriteExclusiveFile. Returns true when
// the file holds exactly |bytes| on disk; false otherwise, with nothing of
// its own left at |path|. The folder above |path| may itself be a link.
bool WriteNewFile(const std::u16string& path, std::string_view bytes);

// Replaces the file at |path| with |bytes| as a whole: WriteNewFile of
// |path| + ".tmp", then a move over |path| (a link there is replaced, not
// followed). A reader sees the old or the new contents, never half. Returns
// false, with the temporary file removed and the old file untouched, when
// writing or moving fails.
bool ReplaceFileContents(const std::u16string& path, std::string_view bytes);

// MoveFileExW(|from|, |to|, |flags|) with the two flags above. Returns 0 on
// success, else the error code. POSIX: rename (or renameat2 without
// replacing), and for kMoveWriteThrough an fsync of the target's folder.
std::uint32_t MoveFileWithFlags(const std::u16string& from, const std::u16string& to,
                                std::uint32_t flags);

// The same operations on |name| (one component) inside a held folder. POSIX
// works relative to the folder's descriptor; Windows by the folder's path,
// which the held handles keep pointing at the same folders.
void RemoveFileAt(const HeldFolder& folder, std::u16string_view name);
// Whether a new file reaches the disk before the write returns. kCached is
// for files whose every use checks them (a crash may leave them short).
enum class FileFlush { kToDisk, kCached };
std::uint32_t WriteExclusiveFileAt(const HeldFolder& folder, std::u16string_view name,
                                   const std::uint8_t* data, size_t size,
                                   FileFlush flush = FileFlush::kToDisk);
// Fills up to |capacity| bytes at |buffer| with the next bytes of a file
// being written and returns how many, 0 once the file is complete. It may
// throw to abandon the file; the exception passes through.
using ContentSource = std::function<size_t(std::uint8_t* buffer, size_t capacity)>;
// WriteExclusiveFileAt with the contents drawn from |source| piece by piece,
// so a large file never has to be whole in memory. A file that was created
// stays for the caller to remove, also when |source| throws.
std::uint32_t WriteExclusiveFileAt(const HeldFolder& folder, std::u16string_view name,
                                   const ContentSource& source);
// Both names inside |folder|.
std::uint32_t MoveFileAt(const HeldFolder& folder, std::u16string_view from,
                         std::u16string_view to, std::uint32_t flags);
// Clears the read-only attribute of an existing file (POSIX: adds the
// owner's write permission to a file without any write permission). A link
// at |name| is left as it is and its target is never changed.
void ClearReadOnlyAt(const HeldFolder& folder, std::u16string_view name);
// Whether two names are one file (volume and file identity), links not
// followed; false when either cannot be examined.
bool IsSameFileAt(const HeldFolder& first, std::u16string_view firstName, const HeldFolder& second,
                  std::u16string_view secondName);

// The platform operations ApplyFile is made of. The base class is the real
// platform; tests override single operations to provoke failures, to change
// the folders between two steps, or to see the pauses without waiting.
class FileApplyPlatform {
 public:
  virtual ~FileApplyPlatform() = default;

  // GameFolder::OpenParent.
  virtual FolderLookup OpenParent(const GameFolder& root, std::u16string_view relative,
                                  bool create);
  virtual void RemoveFile(const HeldFolder& folder, std::u16string_view name);
  // WriteExclusiveFileAt: fails on anything already at |name|, which
  // ApplyFile removes first.
  virtual std::uint32_t WriteStagedFile(const HeldFolder& folder, std::u16string_view name,
                                        const std::vector<std::uint8_t>& contents);
  virtual void ClearReadOnly(const HeldFolder& folder, std::u16string_view name);
  virtual std::uint32_t Move(const HeldFolder& folder, std::u16string_view from,
                             std::u16string_view to, std::uint32_t flags);
  virtual bool IsSameFile(const HeldFolder& first, std::u16string_view firstName,
                          const HeldFolder& second, std::u16string_view secondName);
  virtual void Pause(std::uint32_t milliseconds);
};

// Replaces or creates |target|, a relative path below |root|, with
// |contents|; see the header comment. |exe| is the launcher's own executable
// relative to |root| (RelativeBelow), empty when it is not below it. Returns
// when the target holds exactly |contents|; otherwise throws PatchFailure 7
// ("Write failed") or 10 ("File in use") with the target's path and the
// reason in the detail, after removing the staged file and moving a
// moved-aside executable back, or PatchFailure 18 when a folder of the
// target is a link.
void ApplyFile(const GameFolder& root, std::u16string_view target,
               const std::vector<std::uint8_t>& contents, std::u16string_view exe);
void ApplyFile(const GameFolder& root, std::u16string_view target,
               const std::vector<std::uint8_t>& contents, std::u16string_view exe,
               FileApplyPlatform& platform);
// The same with the contents streamed from |source| into the staged file.
// Whatever |source| throws passes through after the staged file is removed;
// the target is then untouched. |source| runs on this thread and is asked
// until it returns 0, before anything replaces the target, so its last call
// may still refuse the contents.
void ApplyFile(const GameFolder& root, std::u16string_view target, const ContentSource& source,
               std::u16string_view exe);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_FILE_APPLY_H_
