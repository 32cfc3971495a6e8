#include "core/file_apply.h"

#include <functional>
#include <optional>

#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/text.h"

namespace emberfall {
namespace {

using StagedWriter = std::function<std::uint32_t(const HeldFolder&, std::u16string_view)>;

// ApplyFile's steps once the staged file's name is known; |writeStaged|
// creates and fills it.
void ApplyStaged(const GameFolder& root, std::u16string_view target, std::u16string_view exe,
                 FileApplyPlatform& platform, const StagedWriter& writeStaged);

}  // namespace

bool IsFileInUseError(std::uint32_t error) {
  return error == kErrorSharingViolation || error == kErrorLockViolation ||
         error == kErrorAccessDenied || error == kErrorUserMappedFile;
}

FolderLookup FileApplyPlatform::OpenParent(const GameFolder& root, std::u16string_view relative,
                                           bool create) {
  return root.OpenParent(relative, create);
}

void FileApplyPlatform::RemoveFile(const HeldFolder& folder, std::u16string_view name) {
  RemoveFileAt(folder, name);
}

std::uint32_t FileApplyPlatform::WriteStagedFile(const HeldFolder& folder, std::u16string_view name,
                                                 const std::vector<std::uint8_t>& contents) {
  return WriteExclusiveFileAt(folder, name, contents.data(), contents.size());
}

void FileApplyPlatform::ClearReadOnly(const HeldFolder& folder, std::u16string_view name) {
  ClearReadOnlyAt(folder, name);
}

std::uint32_t FileApplyPlatform::Move(const HeldFolder& folder, std::u16string_view from,
                                      std::u16string_view to, std::uint32_t flags) {
  return MoveFileAt(folder, from, to, flags);
}

bool FileApplyPlatform::IsSameFile(const HeldFolder& first, std::u16string_view firstName,
                                   const HeldFolder& second, std::u16string_view secondName) {
  return IsSameFileAt(first, firstName, second, secondName);
}

bool WriteNewFile(const std::u16string& path, std::string_view bytes) {
  RemoveFileIfExists(path);
  const std::uint32_t error =
      WriteExclusiveFile(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (error == 0) return true;
  RemoveFileIfExists(path);
  return false;
}

bool ReplaceFileContents(const std::u16string& path, std::string_view bytes) {
  const std::u16string temporary = path + u".tmp";
  // The game folder is the player's to write, and this runs elevated: a
  // link planted at the temporary name must not be written through.
  if (!WriteNewFile(temporary, bytes)) return false;
  if (MoveFileWithFlags(temporary, path, kMoveReplaceExisting) != 0) {
    RemoveFileIfExists(temporary);
    return false;
  }
  return true;
}

void ApplyFile(const GameFolder& root, std::u16string_view target,
               const std::vector<std::uint8_t>& contents, std::u16string_view exe) {
  FileApplyPlatform platform;
  ApplyFile(root, target, contents, exe, platform);
}

void ApplyFile(const GameFolder& root, std::u16string_view target,
               const std::vector<std::uint8_t>& contents, std::u16string_view exe,
               FileApplyPlatform& platform) {
  ApplyStaged(root, target, exe, platform,
              [&](const HeldFolder& folder, std::u16string_view staged) {
                return platform.WriteStagedFile(folder, staged, contents);
              });
}

void ApplyFile(const GameFolder& root, std::u16string_view target, const ContentSource& source,
               std::u16string_view exe) {
  FileApplyPlatform platform;
  ApplyStaged(root, target, exe, platform,
              [&](const HeldFolder& folder, std::u16string_view staged) {
                try {
                  return WriteExclusiveFileAt(folder, staged, source);
                } catch (...) {
                  platform.RemoveFile(folder, staged);
                  throw;
                }
              });
}

namespace {

void ApplyStaged(const GameFolder& root, std::u16string_view target, std::u16string_view exe,
                 FileApplyPlatform& platform, const StagedWriter& writeStaged) {
  const std::u16string shown = root.DisplayPath(target);
  const FolderLookup place = platform.OpenParent(root, target, /*create=*/true);
  if (place.status == FolderLookup::Status::kLink) ThrowLinkInGameFolder(place.at);
  if (place.status != FolderLookup::Status::kFound) {
    throw PatchFailure(PatchErrorCode::WriteFailed,
                       shown + u" | mkdir: " + Utf8ToWideLenient(place.error.message()));
  }
  const HeldFolder& folder = place.folder;
  const std::u16string& name = place.name;

  const std::u16string staged = name + std::u16string(kStagedSuffix);
  platform.RemoveFile(folder, staged);
  if (const std::uint32_t error = writeStaged(folder, staged); error != 0) {
    platform.RemoveFile(folder, staged);
    throw PatchFailure(PatchErrorCode::WriteFailed,
                       shown + u" | write err=" + ToWideDecimalUnsigned(error));
  }

  platform.ClearReadOnly(folder, name);

  // The executable's folder is looked up only when a replace is refused, and
  // held from then on, so the move back reaches the same folder.
  std::optional<FolderLookup> exePlace;
  std::optional<std::u16string> backup;
  std::uint32_t error = 0;
  int count = 0;
  for (;;) {
    error = platform.Move(folder, staged, name, kMoveReplaceExisting | kMoveWriteThrough);
    if (error == 0) return;
    if (!IsFileInUseError(error)) break;
    // A running image cannot be replaced, but it can be renamed: moving it
    // aside frees its name for the new file at once.
    if (!backup && !exe.empty()) {
      if (!exePlace) exePlace = platform.OpenParent(root, exe, /*create=*/false);
      const bool found = exePlace->status == FolderLookup::Status::kFound;
      if (found && platform.IsSameFile(folder, name, exePlace->folder, exePlace->name)) {
        std::u16string candidate = exePlace->name + std::u16string(kBackupSuffix);
        platform.RemoveFile(exePlace->folder, candidate);
        if (platform.Move(exePlace->folder, exePlace->name, candidate, kMoveReplaceExisting) == 0) {
          backup = std::move(candidate);
          ++count;
          continue;
        }
      }
    }
    if (count >= kReplaceAttempts - 1) break;
    platform.Pause(kReplacePauseMilliseconds);
    ++count;
  }

  if (backup) platform.Move(exePlace->folder, *backup, exePlace->name, kMoveReplaceExisting);
  platform.RemoveFile(folder, staged);
  throw PatchFailure(IsFileInUseError(error) ? PatchErrorCode::FileInUse : PatchErrorCode::WriteFailed,
                     shown + u" | replace err=" + ToWideDecimalUnsigned(error));
}

}  // namespace

}  // namespace emberfall
