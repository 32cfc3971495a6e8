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

void ClearReadOnlyAttribute(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
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
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.is_valid()) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

}  // namespace

void RemoveFileIfExists(const std::u16string& path) {
  const std::wstring native = win::ToWinString(path);
  if (GetFileAttributesW(native.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ClearReadOnlyAttribute(native);
  DeleteFileW(native.c_str());
}

std::uint32_t MoveFileWithFlags(const std::u16string& from, const std::u16string& to,
                                std::uint32_t flags) {
  const std::wstring source = win::ToWinString(from);
  const std::wstring destination = win::ToWinString(to);
  if (MoveFileExW(source.c_str(), destination.c_str(), flags)) return 0;
  return LastErrorOr(ERROR_GEN_FAILURE);
}

std::uint32_t FileApplyPlatform::WriteStagedFile(const std::u16string& path,
                                                 const std::vector<std::uint8_t>& contents) {
  const std::wstring native = win::ToWinString(path);
  win::ScopedFileHandle file(CreateFileW(native.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.is_valid()) return LastErrorOr(ERROR_WRITE_FAULT);

  DWORD error = 0;
  size_t offset = 0;
  while (offset < contents.size()) {
    const auto piece = static_cast<DWORD>(std::min(contents.size() - offset, kLargestWriteBytes));
    DWORD written = 0;
    // A short write that reports success has no error code of its own.
    SetLastError(0);
    if (!WriteFile(file.get(), contents.data() + offset, piece, &written, nullptr) ||
        written != piece) {
      error = LastErrorOr(ERROR_WRITE_FAULT);
      break;
    }
    offset += piece;
  }
  if (error == 0 && !FlushFileBuffers(file.get())) error = LastErrorOr(ERROR_WRITE_FAULT);
  if (!file.CloseChecked() && error == 0) error = LastErrorOr(ERROR_WRITE_FAULT);
  return error;
}

void FileApplyPlatform::ClearReadOnly(const std::u16string& path) {
  ClearReadOnlyAttribute(win::ToWinString(path));
}

bool FileApplyPlatform::IsSameFile(const std::u16string& first, const std::u16string& second) {
  FileIdentity a;
  FileIdentity b;
  if (!QueryIdentity(first, a) || !QueryIdentity(second, b)) return false;
  return a.volume == b.volume && a.index_high == b.index_high && a.index_low == b.index_low;
}

void FileApplyPlatform::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace emberfall
