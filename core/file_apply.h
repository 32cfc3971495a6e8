// Putting one decoded, checked file in place under the game folder: the new
// contents go to a staged file next to the target, reach the disk, and are
// swapped in with one atomic replace, so the target always holds either its
// complete old or its complete new contents. A target locked by another
// program is retried for about two seconds; the launcher's own running
// executable is first moved aside to "<exe>.old".
//
// The launcher runs elevated, yet the player can write the game folder, so a
// link planted there would aim an elevated write anywhere. Nothing here
// writes, deletes or changes attributes through a symbolic link or junction
// in the last component of a path: staged files are created exclusively, and
// a link at a target is replaced, not followed. Links in earlier components
// stay allowed on purpose: players move large game folders to another drive
// with a junction.
//
// Error numbers are Win32 error codes on every platform; the POSIX side maps
// errno onto the nearest code (see file_apply_posix.cpp).
#ifndef EMBERFALL_CORE_FILE_APPLY_H_
#define EMBERFALL_CORE_FILE_APPLY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace emberfall {

inline constexpr std::u16string_view kStagedSuffix = u".emb-new";
inline constexpr std::u16string_view kBackupSuffix = u".old";
// The largest single write of a staged file.
inline constexpr size_t kLargestWriteBytes = 16777216;
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

// MoveFileExW(|from|, |to|, |flags|) with the two flags above. Returns 0 on
// success, else the error code. POSIX: rename (or renameat2 without
// replacing), and for kMoveWriteThrough an fsync of the target's folder.
std::uint32_t MoveFileWithFlags(const std::u16string& from, const std::u16string& to,
                                std::uint32_t flags);

// The platform operations ApplyFile is made of. The base class is the real
// platform; tests override single operations to provoke failures or to see
// the pauses without waiting for them.
class FileApplyPlatform {
 public:
  virtual ~FileApplyPlatform() = default;

  // Creates |folder| and every missing folder above it; an empty error code
  // when they exist afterwards.
  virtual std::error_code CreateDirectories(const std::u16string& folder);
  virtual void RemoveFileIfExists(const std::u16string& path);
  // WriteExclusiveFile(|path|, |contents|): fails on anything already at
  // |path|, which ApplyFile removes first.
  virtual std::uint32_t WriteStagedFile(const std::u16string& path,
                                        const std::vector<std::uint8_t>& contents);
  // Clears the read-only attribute of an existing file (POSIX: adds the
  // owner's write permission to a file without any write permission). A
  // link at |path| is left as it is and its target is never changed.
  virtual void ClearReadOnly(const std::u16string& path);
  virtual std::uint32_t Move(const std::u16string& from, const std::u16string& to,
                             std::uint32_t flags);
  // Whether both paths name the same file (volume and file identity); false
  // when either cannot be examined.
  virtual bool IsSameFile(const std::u16string& first, const std::u16string& second);
  virtual void Pause(std::uint32_t milliseconds);
};

// Replaces or creates |target| with |contents|; see the header comment.
// A symbolic link at |target| is replaced by the new file, never written
// through; links in the folders above |target| are followed.
// |exePath| is the launcher's own executable. Returns when |target| holds
// exactly |contents|; otherwise throws PatchFailure 7 ("Write failed") or 10
// ("File in use") with |target| and the reason in the detail, after removing
// the staged file and moving a moved-aside executable back.
void ApplyFile(const std::u16string& target, const std::vector<std::uint8_t>& contents,
               const std::u16string& exePath);
void ApplyFile(const std::u16string& target, const std::vector<std::uint8_t>& contents,
               const std::u16string& exePath, FileApplyPlatform& platform);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_FILE_APPLY_H_
