#include "core/file_apply.h"

#include <algorithm>

#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {
namespace {

// A failed call that left no error code must still count as a failure.
DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != 0 ? error : fallback;
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself, so
// whatever is done through the handle never reaches the link's target.
win::ScopedFileHandle OpenWithoutFollowing(const std::wstring& path, DWORD access) {
  return win::ScopedFileHandle(CreateFileW(path.c_str(), access,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
}

// Zero times in FILE_BASIC_INFO mean "leave unchanged".
bool ClearReadOnlyAttribute(HANDLE file, const FILE_BASIC_INFO& current) {
  if (!(current.FileAttributes & FILE_ATTRIBUTE_READONLY)) return true;
  FILE_BASIC_INFO change{};
  change.FileAttributes = current.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (change.FileAttributes == 0) change.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &change, sizeof(change)) != 0;
}

void ClearReadOnlyAttribute(const std::wstring& path) {
  win::ScopedFileHandle file =
      OpenWithoutFollowing(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  FILE_BASIC_INFO info{};
  if (!file.is_valid() ||
      !GetFileInformationByHandleEx(file.get(), FileBasicInfo, &info, sizeof(info))) {
    return;
  }
  ClearReadOnlyAttribute(file.get(), info);
}

struct FileIdentity {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
};

bool QueryIdentity(const std::u16string& path, FileIdentity& identity) {
  const std::wstring native = win::ToWinString(path);
  // Backup semantics let a folder be opened too; attribute access is enough.
  win::ScopedFileHandle file(CreateFileW(native.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr));
  if (!file.is_valid()) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

}  // namespace

void RemoveFileIfExists(const std::u16string& path) {
  const std::wstring native = win::ToWinString(path);
  win::ScopedFileHandle file =
      OpenWithoutFollowing(native, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  FILE_BASIC_INFO info{};
  if (!file.is_valid() ||
      !GetFileInformationByHandleEx(file.get(), FileBasicInfo, &info, sizeof(info))) {
    return;
  }
  // A junction is a folder too, but only a link: it goes, a real folder stays.
  if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return;
  }
  ClearReadOnlyAttribute(file.get(), info);
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

std::uint32_t MoveFileWithFlags(const std::u16string& from, const std::u16string& to,
                                std::uint32_t flags) {
  const std::wstring source = win::ToWinString(from);
  const std::wstring destination = win::ToWinString(to);
  if (MoveFileExW(source.c_str(), destination.c_str(), flags)) return 0;
  return LastErrorOr(ERROR_GEN_FAILURE);
}

namespace {

std::uint32_t WriteExclusive(const std::u16string& path, const std::uint8_t* data, size_t size,
                             FileFlush flush) {
  const std::wstring native = win::ToWinString(path);
  win::ScopedFileHandle file(CreateFileW(native.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr));
  if (!file.is_valid()) return LastErrorOr(ERROR_WRITE_FAULT);

  DWORD error = 0;
  size_t offset = 0;
  while (offset < size) {
    const auto piece = static_cast<DWORD>(std::min(size - offset, kLargestWriteBytes));
    DWORD written = 0;
    // A short write that reports success has no error code of its own.
    SetLastError(0);
    if (!WriteFile(file.get(), data + offset, piece, &written, nullptr) ||
        written != piece) {
      error = LastErrorOr(ERROR_WRITE_FAULT);
      break;
    }
    offset += piece;
  }
  if (error == 0 && flush == FileFlush::kToDisk && !FlushFileBuffers(file.get())) {
    error = LastErrorOr(ERROR_WRITE_FAULT);
  }
  if (!file.CloseChecked() && error == 0) error = LastErrorOr(ERROR_WRITE_FAULT);
  return error;
}

}  // namespace

std::uint32_t WriteExclusiveFile(const std::u16string& path, const std::uint8_t* data,
                                 size_t size) {
  return WriteExclusive(path, data, size, FileFlush::kToDisk);
}

void RemoveFileAt(const HeldFolder& folder, std::u16string_view name) {
  RemoveFileIfExists(folder.PathOf(name));
}

std::uint32_t WriteExclusiveFileAt(const HeldFolder& folder, std::u16string_view name,
                                   const std::uint8_t* data, size_t size, FileFlush flush) {
  return WriteExclusive(folder.PathOf(name), data, size, flush);
}

std::uint32_t WriteExclusiveFileAt(const HeldFolder& folder, std::u16string_view name,
                                   const ContentSource& source) {
  const std::wstring native = win::ToWinString(folder.PathOf(name));
  win::ScopedFileHandle file(CreateFileW(native.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr));
  if (!file.is_valid()) return LastErrorOr(ERROR_WRITE_FAULT);

  std::vector<std::uint8_t> buffer(kStreamPieceBytes);
  DWORD error = 0;
  for (size_t got; error == 0 && (got = source(buffer.data(), buffer.size())) > 0;) {
    DWORD written = 0;
    SetLastError(0);
    if (!WriteFile(file.get(), buffer.data(), static_cast<DWORD>(got), &written, nullptr) ||
        written != got) {
      error = LastErrorOr(ERROR_WRITE_FAULT);
    }
  }
  if (error == 0 && !FlushFileBuffers(file.get())) error = LastErrorOr(ERROR_WRITE_FAULT);
  if (!file.CloseChecked() && error == 0) error = LastErrorOr(ERROR_WRITE_FAULT);
  return error;
}

std::uint32_t MoveFileAt(const HeldFolder& folder, std::u16string_view from,
                         std::u16string_view to, std::uint32_t flags) {
  return MoveFileWithFlags(folder.PathOf(from), folder.PathOf(to), flags);
}

void ClearReadOnlyAt(const HeldFolder& folder, std::u16string_view name) {
  ClearReadOnlyAttribute(win::ToWinString(folder.PathOf(name)));
}

bool IsSameFileAt(const HeldFolder& first, std::u16string_view firstName, const HeldFolder& second,
                  std::u16string_view secondName) {
  FileIdentity a;
  FileIdentity b;
  if (!QueryIdentity(first.PathOf(firstName), a) || !QueryIdentity(second.PathOf(secondName), b)) {
    return false;
  }
  return a.volume == b.volume && a.index_high == b.index_high && a.index_low == b.index_low;
}

void FileApplyPlatform::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace emberfall
