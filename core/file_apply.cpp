#include "core/file_apply.h"

#include <optional>

#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/text.h"

namespace emberfall {

bool IsFileInUseError(std::uint32_t error) {
  return error == kErrorSharingViolation || error == kErrorLockViolation ||
         error == kErrorAccessDenied || error == kErrorUserMappedFile;
}

void FileApplyPlatform::RemoveFileIfExists(const std::u16string& path) {
  emberfall::RemoveFileIfExists(path);
}

std::uint32_t FileApplyPlatform::Move(const std::u16string& from, const std::u16string& to,
                                      std::uint32_t flags) {
  return MoveFileWithFlags(from, to, flags);
}

bool WriteNewFile(const std::u16string& path, std::string_view bytes) {
  RemoveFileIfExists(path);
  const std::uint32_t error =
      WriteExclusiveFile(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (error == 0) return true;
  RemoveFileIfExists(path);
  return false;
}

std::uint32_t FileApplyPlatform::WriteStagedFile(const std::u16string& path,
                                                 const std::vector<std::uint8_t>& contents) {
  return WriteExclusiveFile(path, contents.data(), contents.size());
}

std::error_code FileApplyPlatform::CreateDirectories(const std::u16string& folder) {
  std::error_code error;
  std::filesystem::create_directories(FsPath(folder), error);
  return error;
}

void ApplyFile(const std::u16string& target, const std::vector<std::uint8_t>& contents,
               const std::u16string& exePath) {
  FileApplyPlatform platform;
  ApplyFile(target, contents, exePath, platform);
}

void ApplyFile(const std::u16string& target, const std::vector<std::uint8_t>& contents,
               const std::u16string& exePath, FileApplyPlatform& platform) {
  const std::filesystem::path parent = FsPath(target).parent_path();
  if (!parent.empty()) {
    if (const std::error_code error = platform.CreateDirectories(WidePath(parent))) {
      throw PatchFailure(PatchErrorCode::WriteFailed,
                         target + u" | mkdir: " + Utf8ToWideLenient(error.message()));
    }
  }

  const std::u16string staged = target + std::u16string(kStagedSuffix);
  platform.RemoveFileIfExists(staged);
  if (const std::uint32_t error = platform.WriteStagedFile(staged, contents); error != 0) {
    platform.RemoveFileIfExists(staged);
    throw PatchFailure(PatchErrorCode::WriteFailed,
                       target + u" | write err=" + ToWideDecimalUnsigned(error));
  }

  platform.ClearReadOnly(target);

  std::optional<std::u16string> backup;
  std::uint32_t error = 0;
  int count = 0;
  for (;;) {
    error = platform.Move(staged, target, kMoveReplaceExisting | kMoveWriteThrough);
    if (error == 0) return;
    if (!IsFileInUseError(error)) break;
    // A running image cannot be replaced, but it can be renamed: moving it
    // aside frees its name for the new file at once.
    if (!backup && platform.IsSameFile(target, exePath)) {
      std::u16string candidate = exePath + std::u16string(kBackupSuffix);
      platform.RemoveFileIfExists(candidate);
      if (platform.Move(exePath, candidate, kMoveReplaceExisting) == 0) {
        backup = std::move(candidate);
        ++count;
        continue;
      }
    }
    if (count >= kReplaceAttempts - 1) break;
    platform.Pause(kReplacePauseMilliseconds);
    ++count;
  }

  if (backup) platform.Move(*backup, exePath, kMoveReplaceExisting);
  platform.RemoveFileIfExists(staged);
  throw PatchFailure(IsFileInUseError(error) ? PatchErrorCode::FileInUse : PatchErrorCode::WriteFailed,
                     target + u" | replace err=" + ToWideDecimalUnsigned(error));
}

}  // namespace emberfall
