// The launcher's user-visible texts as the patch engine and the window use
// them: the strings of one language (UiStrings, filled by the localization
// tables of the application shell), the launcher's own paths, and the
// formatting of the texts that carry numbers or name a failure.
#ifndef EMBERFALL_CORE_UI_STRINGS_H_
#define EMBERFALL_CORE_UI_STRINGS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/patch_error.h"

namespace emberfall {

struct LauncherPaths {
  std::u16string exePath;     // the launcher's own executable, full path
  std::u16string exeFolder;   // its parent folder (a root stays a root)
  std::u16string gameFolder;  // the game installation: the same folder
};

// The texts of one language, in slot order. A plain value: holders (window,
// engine) keep their own copies.
struct UiStrings {
  std::u16string StartGame;
  std::u16string StartGameCount;
  std::u16string Checking;
  std::u16string Downloading;
  std::u16string Unpacking;
  std::u16string ReadyToPlay;
  std::u16string UpToDate;
  std::u16string Website;
  std::u16string Support;
  std::u16string Discord;
  std::u16string FilesUpdated;
  std::u16string VerifyingFiles;
  std::u16string UpdateErrorTitle;
  std::u16string UpdateErrorHint;
  std::u16string ErrorConnect;
  std::u16string ErrorListDownload;
  std::u16string ErrorListInvalid;
  std::u16string ErrorListEmpty;
  std::u16string ErrorConfigIncomplete;
  std::u16string ErrorFileDownload;
  std::u16string ErrorFileCorrupt;
  std::u16string ErrorFileSave;
  std::u16string ErrorUnpack;
  std::u16string ErrorFilesInUse;
  std::u16string ErrorUnknown;
  std::u16string LaunchEntryMissing;
  std::u16string LaunchFailed;
  std::u16string LaunchErrorTitle;
  // Signed publications (a build with pinned keys only).
  std::u16string ErrorReleaseUntrusted;
  std::u16string ErrorReleaseExpired;
  std::u16string ErrorReleaseRolledBack;
  std::u16string ErrorFileNotSigned;
  std::u16string PreparingDownloads;
  // FilesUpdated for a count of one.
  std::u16string FileUpdated;
  std::u16string ErrorLinkInGameFolder;
  std::u16string ErrorReleaseWrongChannel;
  std::u16string ErrorReleaseStateDamaged;
  // The volume is too small: "%s" the bytes needed, then the bytes free.
  std::u16string ErrorDiskSpace;
  // The summary of a run that fetched files, each with its "%s" amount:
  // fetched over the network, taken from the player's old files, and
  // resumed from parts an interrupted download kept.
  std::u16string DownloadedSummary;
  std::u16string ReusedSummary;
  std::u16string ResumedSummary;
};

inline constexpr std::size_t kUiStringCount = 41;

// The text in |slot| (0 to kUiStringCount - 1) of |strings|; throws
// std::out_of_range past the last slot.
const std::u16string& UiStringSlot(const UiStrings& strings, std::size_t slot);
std::u16string& UiStringSlot(UiStrings& strings, std::size_t slot);

// Slot 1 with the seconds left; FilesUpdated with a file count (FileUpdated
// when the count is one); slot 11 with the current and total file numbers.
std::u16string FormatStartGameCount(const UiStrings& strings, std::int32_t seconds);
std::u16string FormatFilesUpdated(const UiStrings& strings, std::int32_t files);
std::u16string FormatVerifyingFiles(const UiStrings& strings, std::int32_t current,
                                    std::int32_t total);

// PreparingDownloads with |current| and |total| in its two %d.
std::u16string FormatPreparingDownloads(const UiStrings& strings, std::int32_t current,
                                        std::int32_t total);

// The localized message for a patch failure code; ErrorUnknown for codes it
// does not know.
std::u16string ErrorMessageForCode(const UiStrings& strings, PatchErrorCode code);

// The English detail of a DiskSpaceInsufficient failure for |folder|, for
// logs and reports: "<folder> | needed=<bytes> free=<bytes>", decimal. Made
// to be read by people only: the amounts travel as a SpaceShortfall.
std::u16string DiskSpaceDetail(const std::u16string& folder, std::int64_t needed,
                               std::int64_t free);

// What the player reads about a failure: ErrorMessageForCode, except that
// DiskSpaceInsufficient with a |shortfall| gets ErrorDiskSpace with its two
// amounts as FormatByteSize prints them ("1.5 GB"). ErrorMessageForCode
// alone, knowing no amounts, gives it ErrorFileSave.
std::u16string FailureStatusText(const UiStrings& strings, PatchErrorCode code,
                                 const std::optional<SpaceShortfall>& shortfall);

// The line that says where a finished run's files came from:
// DownloadedSummary, then ReusedSummary and ResumedSummary for amounts above
// zero, joined by ", "; amounts as FormatByteSize prints them. Empty when
// all three are zero or less (nothing was installed).
std::u16string FormatTransferSummary(const UiStrings& strings, std::int64_t fetched,
                                     std::int64_t reused, std::int64_t resumed);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_UI_STRINGS_H_
