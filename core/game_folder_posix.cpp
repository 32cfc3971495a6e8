#include "core/game_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "core/fs_path.h"
#include "core/text.h"

namespace emberfall::game_folder_internal {
namespace {

std::string Native(std::u16string_view name) { return WideToUtf8(name); }

int OpenFolderAt(int parent, const std::string& name, int flags) {
  int fd;
  do {
    fd = ::openat(parent, name.c_str(), flags | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

char16_t NativeSeparator() { return u'/'; }

FileHandle OpenRootFolder(const std::u16string& path, std::u16string& resolved,
                          std::error_code& error) {
  resolved.clear();
  // O_PATH: walking needs no read permission on the folder.
  const int fd = OpenFolderAt(AT_FDCWD, FsPath(path).native(), O_PATH);
  if (fd < 0) {
    error = std::error_code(errno, std::generic_category());
    return FileHandle();
  }
  return FileHandle(fd);
}

// The descriptor's own name: the folder it really opened.
std::u16string FinalPath(const FileHandle& folder) {
  if (!folder.is_valid()) return {};
  char target[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(folder.get());
  const ssize_t length = ::readlink(link.c_str(), target, sizeof(target));
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(target)) return {};
  return WidePath(std::filesystem::path(std::string(target, static_cast<size_t>(length))));
}

FolderLookup::Status OpenChildFolder(const FileHandle& parent, const std::u16string& parentPath,
                                     std::u16string_view name, bool create, FileHandle& child,
                                     std::error_code& error) {
  (void)parentPath;
  const int dir = static_cast<int>(parent.get());
  const std::string native = Native(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = OpenFolderAt(dir, native, O_PATH | O_NOFOLLOW);
    if (fd >= 0) {
      child = FileHandle(fd);
      return FolderLookup::Status::kFound;
    }
    const int opened = errno;
    struct stat info {};
    if (::fstatat(dir, native.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(info.st_mode)) return FolderLookup::Status::kLink;
      // Made by another job between the open and the look: open it again.
      if (S_ISDIR(info.st_mode) && opened == ENOENT) continue;
      error = std::error_code(S_ISDIR(info.st_mode) ? opened : ENOTDIR, std::generic_category());
      return FolderLookup::Status::kFailed;
    }
    if (errno != ENOENT) {
      error = std::error_code(errno, std::generic_category());
      return FolderLookup::Status::kFailed;
    }
    if (!create) return FolderLookup::Status::kMissing;
    // Made here, then opened again without following: whatever another
    // process puts under the name in between is judged like anything else.
    if (::mkdirat(dir, native.c_str(), 0777) != 0 && errno != EEXIST) {
      error = std::error_code(errno, std::generic_category());
      return FolderLookup::Status::kFailed;
    }
  }
  error = std::make_error_code(std::errc::no_such_file_or_directory);
  return FolderLookup::Status::kFailed;
}

}  // namespace emberfall::game_folder_internal

namespace emberfall {

std::vector<std::u16string> ListNamesAt(const HeldFolder& folder) {
  std::vector<std::u16string> names;
  // A descriptor of its own: closedir closes what fdopendir was given.
  const int fd = ::openat(static_cast<int>(folder.native()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(fd), &::closedir);
  if (!dir) {
    ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    std::u16string wide = Utf8ToWideLenient(name);
    if (WideToUtf8(wide) == name) names.push_back(std::move(wide));
  }
  return names;
}

void RemoveEmptyFolderAt(const HeldFolder& folder, std::u16string_view name) {
  // AT_REMOVEDIR refuses a link (ENOTDIR) rather than following it.
  ::unlinkat(static_cast<int>(folder.native()), WideToUtf8(name).c_str(), AT_REMOVEDIR);
}

}  // namespace emberfall
