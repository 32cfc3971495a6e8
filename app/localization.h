// The launcher's languages, its 37 user-visible texts, and its own paths
// (the folder the game lives in and locale.cfg is looked up from).
#ifndef EMBERFALL_APP_LOCALIZATION_H_
#define EMBERFALL_APP_LOCALIZATION_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace emberfall {

enum class Language : std::uint32_t {
  Turkish = 0,
  English = 1,
  German = 2,
};

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
};

inline constexpr std::size_t kUiStringCount = 37;

// The text in |slot| (0 to kUiStringCount - 1) of |strings|; throws
// std::out_of_range past the last slot.
const std::u16string& UiStringSlot(const UiStrings& strings, std::size_t slot);

// The paths of the given module (nullptr: the running executable). An
// unreadable module path gives empty paths.
LauncherPaths GetLauncherPaths(void* module = nullptr);

// The locale.cfg to read: the first of gameFolder\lib\dev, gameFolder\lib and
// gameFolder that holds an entry of that name (file or not), else the first.
std::u16string FindLocaleConfig(const LauncherPaths& paths);

// The language named by the third token of the first non-comment line of
// |localeConfigPath| ("de", "en", "tr"), else the user's UI language.
// Never fails.
Language DetectLanguage(const std::u16string& localeConfigPath);

// The language the user's interface language selects: German, Turkish, or
// English for everything else.
Language UserInterfaceLanguage();

// The primary language identifier of the user's UI language (the low ten
// bits of GetUserDefaultUILanguage; on POSIX derived from LC_ALL,
// LC_MESSAGES, LANG).
std::uint16_t UserUiPrimaryLanguage();

// The texts of |language|; values other than English and German give Turkish.
UiStrings LoadUiStrings(Language language);

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
std::u16string ErrorMessageForCode(const UiStrings& strings, std::uint32_t code);

}  // namespace emberfall

#endif  // EMBERFALL_APP_LOCALIZATION_H_
