#include "core/file_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/fs_path.h"

namespace emberfall {
namespace {

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::int64_t kEpochDifferenceSeconds = 11644473600;
constexpr std::int64_t kIntervalsPerSecond = 10000000;

std::uint64_t ToFileTime(const struct timespec& time) {
  const std::int64_t seconds = static_cast<std::int64_t>(time.tv_sec) + kEpochDifferenceSeconds;
  if (seconds < 0) return 0;
  return static_cast<std::uint64_t>(seconds) * kIntervalsPerSecond +
         static_cast<std::uint64_t>(time.tv_nsec / 100);
}

FileHandle OpenAt(int dir, const char* name, int flags) {
  int fd;
  do {
    fd = ::openat(dir, name, flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return FileHandle(fd);
}

FileHandle Open(const std::u16string& path, int flags) {
  return OpenAt(AT_FDCWD, FsPath(path).c_str(), flags);
}

FileHandle OpenAt(const HeldFolder& folder, std::u16string_view name, int flags) {
  return OpenAt(static_cast<int>(folder.native()), FsPath(name).c_str(), flags);
}

// Non-blocking, so that a FIFO planted under a published name cannot hang
// the open; regular files ignore the flag.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK;

FileHandle Sequential(FileHandle file) {
  if (file.is_valid()) {
    ::posix_fadvise(static_cast<int>(file.get()), 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return file;
}

}  // namespace

FileHandle OpenForAttributes(const std::u16string& path) { return Open(path, O_PATH); }

FileHandle OpenForSequentialRead(const std::u16string& path) {
  return Sequential(Open(path, kReadFlags));
}

// O_PATH with O_NOFOLLOW opens a link itself, whose fstat says it is no
// regular file: it has no state.
FileHandle OpenForAttributesAt(const HeldFolder& folder, std::u16string_view name) {
  return OpenAt(folder, name, O_PATH | O_NOFOLLOW);
}

FileHandle OpenForSequentialReadAt(const HeldFolder& folder, std::u16string_view name) {
  return Sequential(OpenAt(folder, name, kReadFlags | O_NOFOLLOW));
}

FileHandle OpenForLaunchAt(const HeldFolder& folder, std::u16string_view name) {
  return OpenAt(folder, name, kReadFlags | O_NOFOLLOW);
}

FileHandle OpenOwnFileForRead(const std::u16string& path) {
  return Open(path, kReadFlags | O_NOFOLLOW);
}

std::optional<FileState> QueryFileState(const FileHandle& file) {
  if (!file.is_valid()) return std::nullopt;
  struct stat info {};
  if (::fstat(static_cast<int>(file.get()), &info) != 0) return std::nullopt;
  // Directories have no state on Windows either; devices and FIFOs have no
  // stable contents to cache.
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  FileState state;
  state.size = static_cast<std::uint64_t>(info.st_size);
  state.lastWriteTime = ToFileTime(info.st_mtim);
  state.fileIndex = static_cast<std::uint64_t>(info.st_ino);
  return state;
}

}  // namespace emberfall
