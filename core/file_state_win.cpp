#include "core/file_state.h"

#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileHandle Open(const std::u16string& path, DWORD access, DWORD share, DWORD flags) {
  const std::wstring native = win::ToWinString(path);
  HANDLE handle = CreateFileW(native.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

HANDLE AsHandle(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.get()); }

std::uint64_t Join(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | static_cast<std::uint64_t>(low);
}

bool SameFile(const FileHandle& a, const FileHandle& b) {
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return GetFileInformationByHandle(AsHandle(a), &first) &&
         GetFileInformationByHandle(AsHandle(b), &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

// Opens |path| without following a link at it: a junction or symbolic link
// gives an invalid handle. A reparse point that redirects no name (a cloud
// placeholder) is opened once more the ordinary way, which its data needs,
// and kept only if that reached the same file.
FileHandle OpenNoLink(const std::u16string& path, DWORD access, DWORD share, DWORD flags) {
  FileHandle file = Open(path, access, share, flags | FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file.is_valid()) return file;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(AsHandle(file), FileAttributeTagInfo, &tag, sizeof(tag))) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(AsHandle(file), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return FileHandle();
    }
    return file;
  }
  if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return file;
  if (IsReparseTagNameSurrogate(tag.ReparseTag)) return FileHandle();
  FileHandle again = Open(path, access, share, flags);
  if (!again.is_valid() || !SameFile(file, again)) return FileHandle();
  return again;
}

}  // namespace

FileHandle OpenForAttributes(const std::u16string& path) {
  return Open(path, FILE_READ_ATTRIBUTES, kShareAll, 0);
}

FileHandle OpenForSequentialRead(const std::u16string& path) {
  return Open(path, GENERIC_READ, kShareAll, FILE_FLAG_SEQUENTIAL_SCAN);
}

FileHandle OpenForAttributesAt(const HeldFolder& folder, std::u16string_view name) {
  return OpenNoLink(folder.PathOf(name), FILE_READ_ATTRIBUTES, kShareAll, 0);
}

FileHandle OpenForSequentialReadAt(const HeldFolder& folder, std::u16string_view name) {
  return OpenNoLink(folder.PathOf(name), GENERIC_READ, kShareAll, FILE_FLAG_SEQUENTIAL_SCAN);
}

// Read sharing only: while this handle lives nobody can write the file,
// rename it or delete it, and starting it as a process still works.
FileHandle OpenForLaunchAt(const HeldFolder& folder, std::u16string_view name) {
  return OpenNoLink(folder.PathOf(name), GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN);
}

FileHandle OpenOwnFileForRead(const std::u16string& path) {
  return OpenNoLink(path, GENERIC_READ, kShareAll, FILE_FLAG_SEQUENTIAL_SCAN);
}

std::optional<FileState> QueryFileState(const FileHandle& file) {
  if (!file.is_valid()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(AsHandle(file), &info)) return std::nullopt;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  FileState state;
  state.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  state.lastWriteTime = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  state.fileIndex = Join(info.nFileIndexHigh, info.nFileIndexLow);
  return state;
}

}  // namespace emberfall
