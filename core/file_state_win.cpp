#include "core/file_state.h"

#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileHandle Open(const std::u16string& path, DWORD access, DWORD flags) {
  const std::wstring native = win::ToWinString(path);
  HANDLE handle =
      CreateFileW(native.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

std::uint64_t Join(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | static_cast<std::uint64_t>(low);
}

}  // namespace

FileHandle OpenForAttributes(const std::u16string& path) {
  return Open(path, FILE_READ_ATTRIBUTES, 0);
}

FileHandle OpenForSequentialRead(const std::u16string& path) {
  return Open(path, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
}

std::optional<FileState> QueryFileState(const FileHandle& file) {
  if (!file.is_valid()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(file.native()), &info)) {
    return std::nullopt;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  FileState state;
  state.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  state.lastWriteTime = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  state.fileIndex = Join(info.nFileIndexHigh, info.nFileIndexLow);
  return state;
}

}  // namespace emberfall
