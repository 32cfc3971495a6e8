#include "core/file_apply.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "core/file_handle.h"
#include "core/fs_path.h"

namespace emberfall {
namespace {

// Win32 codes used below besides those of the header.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorNotSameDevice = 17;
constexpr std::uint32_t kErrorWriteProtect = 19;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorBusy = 170;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
constexpr std::uint32_t kErrorDirectory = 267;
// Win32 marks application-defined codes with bit 29; an errno without a
// counterpart keeps its number under that bit instead of posing as one.
constexpr std::uint32_t kCustomerCodeBit = 0x20000000;

// The Win32 code closest to |error|, so that the shared logic and the
// detail texts see the same numbers on both platforms. Only a sharing
// violation has no POSIX cause: a replace cannot fail on an open file here.
std::uint32_t Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return kErrorGenFailure;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case ETXTBSY: return kErrorSharingViolation;
    case EXDEV: return kErrorNotSameDevice;
    case EROFS: return kErrorWriteProtect;
    case EIO: return kErrorWriteFault;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EBUSY: return kErrorBusy;
    case EEXIST: return kErrorAlreadyExists;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case EISDIR: return kErrorDirectory;
    default: return kCustomerCodeBit | static_cast<std::uint32_t>(error);
  }
}

bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

int FolderFd(const HeldFolder& folder) { return static_cast<int>(folder.native()); }
std::string Name(std::u16string_view name) { return FsPath(name).native(); }

// Neither call follows a link: a link keeps its mode, and its target is
// never changed.
void ClearReadOnlyMode(int dir, const char* name) {
  struct stat info {};
  if (::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
      IsReadOnlyMode(info.st_mode)) {
    ::fchmodat(dir, name, (info.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW);
  }
}

// What MOVEFILE_WRITE_THROUGH promises: the rename itself is on disk.
void SyncFolder(int dir, const char* folder) {
  const FileHandle opened(::openat(dir, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (opened) ::fsync(static_cast<int>(opened.get()));
}

std::uint32_t WriteAll(int fd, const std::uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Win32ErrorFromErrno(errno);
    }
    if (n == 0) return kErrorWriteFault;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// Deleting needs no write permission on the file itself, so its mode is left
// alone; unlink removes a link, never its target.
void RemoveAt(int dir, const char* name) {
  struct stat info {};
  if (::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(info.st_mode)) return;
  ::unlinkat(dir, name, 0);
}

std::uint32_t MoveAt(int fromDir, const char* from, int toDir, const char* to, const char* toFolder,
                     std::uint32_t flags) {
  const int result = (flags & kMoveReplaceExisting)
                         ? ::renameat(fromDir, from, toDir, to)
                         : ::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE);
  if (result != 0) return Win32ErrorFromErrno(errno);
  if (flags & kMoveWriteThrough) SyncFolder(toDir, toFolder);
  return 0;
}

std::uint32_t WriteExclusiveAt(int dir, const char* name, const std::uint8_t* data, size_t size,
                               FileFlush flush = FileFlush::kToDisk) {
  FileHandle file(::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!file) return Win32ErrorFromErrno(errno);
  const int fd = static_cast<int>(file.get());

  std::uint32_t error = 0;
  size_t offset = 0;
  while (offset < size && error == 0) {
    const size_t piece = std::min(size - offset, kLargestWriteBytes);
    error = WriteAll(fd, data + offset, piece);
    offset += piece;
  }
  if (error == 0 && flush == FileFlush::kToDisk && ::fsync(fd) != 0) {
    error = Win32ErrorFromErrno(errno);
  }
  if (!file.CloseChecked() && error == 0) error = Win32ErrorFromErrno(errno);
  return error;
}

std::uint32_t WriteExclusiveFromAt(int dir, const char* name, const ContentSource& source) {
  FileHandle file(::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!file) return Win32ErrorFromErrno(errno);
  const int fd = static_cast<int>(file.get());

  std::vector<std::uint8_t> buffer(kStreamPieceBytes);
  std::uint32_t error = 0;
  for (size_t got; error == 0 && (got = source(buffer.data(), buffer.size())) > 0;) {
    error = WriteAll(fd, buffer.data(), got);
  }
  if (error == 0 && ::fsync(fd) != 0) error = Win32ErrorFromErrno(errno);
  if (!file.CloseChecked() && error == 0) error = Win32ErrorFromErrno(errno);
  return error;
}

std::string FolderOf(const std::filesystem::path& path) {
  const std::filesystem::path folder = path.parent_path();
  return folder.empty() ? std::string(".") : folder.native();
}

}  // namespace

void RemoveFileIfExists(const std::u16string& path) {
  RemoveAt(AT_FDCWD, FsPath(path).c_str());
}

std::uint32_t MoveFileWithFlags(const std::u16string& from, const std::u16string& to,
                                std::uint32_t flags) {
  const std::filesystem::path destination = FsPath(to);
  return MoveAt(AT_FDCWD, FsPath(from).c_str(), AT_FDCWD, destination.c_str(),
                FolderOf(destination).c_str(), flags);
}

std::uint32_t WriteExclusiveFile(const std::u16string& path, const std::uint8_t* data,
                                 size_t size) {
  return WriteExclusiveAt(AT_FDCWD, FsPath(path).c_str(), data, size);
}

void RemoveFileAt(const HeldFolder& folder, std::u16string_view name) {
  RemoveAt(FolderFd(folder), Name(name).c_str());
}

std::uint32_t WriteExclusiveFileAt(const HeldFolder& folder, std::u16string_view name,
                                   const std::uint8_t* data, size_t size, FileFlush flush) {
  return WriteExclusiveAt(FolderFd(folder), Name(name).c_str(), data, size, flush);
}

std::uint32_t WriteExclusiveFileAt(const HeldFolder& folder, std::u16string_view name,
                                   const ContentSource& source) {
  return WriteExclusiveFromAt(FolderFd(folder), Name(name).c_str(), source);
}

std::uint32_t MoveFileAt(const HeldFolder& folder, std::u16string_view from,
                         std::u16string_view to, std::uint32_t flags) {
  return MoveAt(FolderFd(folder), Name(from).c_str(), FolderFd(folder), Name(to).c_str(), ".",
                flags);
}

void ClearReadOnlyAt(const HeldFolder& folder, std::u16string_view name) {
  ClearReadOnlyMode(FolderFd(folder), Name(name).c_str());
}

bool IsSameFileAt(const HeldFolder& first, std::u16string_view firstName, const HeldFolder& second,
                  std::u16string_view secondName) {
  struct stat a {};
  struct stat b {};
  if (::fstatat(FolderFd(first), Name(firstName).c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstatat(FolderFd(second), Name(secondName).c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void FileApplyPlatform::Pause(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace emberfall
