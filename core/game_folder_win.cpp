#include "core/game_folder.h"

#include <vector>

#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall::game_folder_internal {
namespace {

// Held without FILE_SHARE_DELETE: nobody can rename or remove the folder, or
// put something else under its name, while the walk holds it. Read and write
// sharing stay, so the launcher's own creates and renames inside it work.
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::error_code LastError() {
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

// A junction or symbolic link redirects a name; other reparse points (cloud
// placeholders, deduplicated files) do not, and are folders like any other.
bool IsLink(HANDLE handle, DWORD& attributes) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
    attributes = tag.FileAttributes;
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           IsReparseTagNameSurrogate(tag.ReparseTag);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) {
    attributes = 0;
    return false;
  }
  attributes = info.dwFileAttributes;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// "\\?\C:\Games" as "C:\Games" and "\\?\UNC\host\share" as "\\host\share":
// the same folder, in the spelling programs and command lines expect.
std::u16string WithoutVerbatimPrefix(std::u16string path) {
  constexpr std::u16string_view kVerbatim = u"\\\\?\\";
  constexpr std::u16string_view kUnc = u"UNC\\";
  if (!std::u16string_view(path).starts_with(kVerbatim)) return path;
  std::u16string rest = path.substr(kVerbatim.size());
  if (std::u16string_view(rest).starts_with(kUnc)) return u"\\\\" + rest.substr(kUnc.size());
  if (rest.size() >= 2 && rest[1] == u':' && rest.size() < MAX_PATH) return rest;
  return path;
}

}  // namespace

char16_t NativeSeparator() { return u'\\'; }

FileHandle OpenRootFolder(const std::u16string& path, std::u16string& resolved,
                          std::error_code& error) {
  resolved.clear();
  const std::wstring native = win::ToWinString(path);
  HANDLE handle = CreateFileW(native.c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = LastError();
    return FileHandle();
  }
  FileHandle root(reinterpret_cast<std::intptr_t>(handle));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = std::error_code(ERROR_DIRECTORY, std::system_category());
    return FileHandle();
  }
  // Every later path starts from where the root really is, so a link at or
  // above it that is swapped during the run redirects nothing.
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(),
                                                   static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) break;
    if (length < buffer.size()) {
      resolved = WithoutVerbatimPrefix(win::FromWinString(buffer.data(), length));
      break;
    }
    buffer.resize(length + 1);
  }
  return root;
}

std::u16string FinalPath(const FileHandle&) { return {}; }

FolderLookup::Status OpenChildFolder(const FileHandle& parent, const std::u16string& parentPath,
                                     std::u16string_view name, bool create, FileHandle& child,
                                     std::error_code& error) {
  (void)parent;  // held, so parentPath still names it
  std::u16string path = parentPath;
  if (!path.empty() && path.back() != u'\\') path += u'\\';
  path += name;
  const std::wstring native = win::ToWinString(path);
  for (int attempt = 0; attempt < 2; ++attempt) {
    HANDLE handle = CreateFileW(native.c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      FileHandle opened(reinterpret_cast<std::intptr_t>(handle));
      DWORD attributes = 0;
      if (IsLink(handle, attributes)) return FolderLookup::Status::kLink;
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = std::error_code(ERROR_DIRECTORY, std::system_category());
        return FolderLookup::Status::kFailed;
      }
      child = std::move(opened);
      return FolderLookup::Status::kFound;
    }
    const DWORD opened = GetLastError();
    if (opened != ERROR_FILE_NOT_FOUND && opened != ERROR_PATH_NOT_FOUND) {
      error = std::error_code(static_cast<int>(opened), std::system_category());
      return FolderLookup::Status::kFailed;
    }
    if (!create) return FolderLookup::Status::kMissing;
    if (!CreateDirectoryW(native.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      error = LastError();
      return FolderLookup::Status::kFailed;
    }
  }
  error = std::error_code(ERROR_PATH_NOT_FOUND, std::system_category());
  return FolderLookup::Status::kFailed;
}

}  // namespace emberfall::game_folder_internal

namespace emberfall {

std::vector<std::u16string> ListNamesAt(const HeldFolder& folder) {
  std::vector<std::u16string> names;
  WIN32_FIND_DATAW found{};
  // The folder is held without delete sharing, so its path names it throughout.
  const std::wstring pattern = win::ToWinString(folder.PathOf(u"*"));
  const win::ScopedFindHandle search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                     FindExSearchNameMatch, nullptr, 0));
  if (!search) return names;
  do {
    const std::wstring_view name(found.cFileName);
    if (name != L"." && name != L"..") names.push_back(win::FromWinString(name));
  } while (FindNextFileW(search.get(), &found));
  return names;
}

void RemoveEmptyFolderAt(const HeldFolder& folder, std::u16string_view name) {
  // A directory junction or link is removed itself, its target untouched.
  RemoveDirectoryW(win::ToWinString(folder.PathOf(name)).c_str());
}

}  // namespace emberfall
