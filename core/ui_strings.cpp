#include "core/ui_strings.h"

#include <array>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::array<std::u16string UiStrings::*, kUiStringCount> kSlots = {
    &UiStrings::StartGame,
    &UiStrings::StartGameCount,
    &UiStrings::Checking,
    &UiStrings::Downloading,
    &UiStrings::Unpacking,
    &UiStrings::ReadyToPlay,
    &UiStrings::UpToDate,
    &UiStrings::Website,
    &UiStrings::Support,
    &UiStrings::Discord,
    &UiStrings::FilesUpdated,
    &UiStrings::VerifyingFiles,
    &UiStrings::UpdateErrorTitle,
    &UiStrings::UpdateErrorHint,
    &UiStrings::ErrorConnect,
    &UiStrings::ErrorListDownload,
    &UiStrings::ErrorListInvalid,
    &UiStrings::ErrorListEmpty,
    &UiStrings::ErrorConfigIncomplete,
    &UiStrings::ErrorFileDownload,
    &UiStrings::ErrorFileCorrupt,
    &UiStrings::ErrorFileSave,
    &UiStrings::ErrorUnpack,
    &UiStrings::ErrorFilesInUse,
    &UiStrings::ErrorUnknown,
    &UiStrings::LaunchEntryMissing,
    &UiStrings::LaunchFailed,
    &UiStrings::LaunchErrorTitle,
    &UiStrings::ErrorReleaseUntrusted,
    &UiStrings::ErrorReleaseExpired,
    &UiStrings::ErrorReleaseRolledBack,
    &UiStrings::ErrorFileNotSigned,
    &UiStrings::PreparingDownloads,
    &UiStrings::FileUpdated,
    &UiStrings::ErrorLinkInGameFolder,
    &UiStrings::ErrorReleaseWrongChannel,
    &UiStrings::ErrorReleaseStateDamaged,
    &UiStrings::ErrorDiskSpace,
    &UiStrings::DownloadedSummary,
    &UiStrings::ReusedSummary,
    &UiStrings::ResumedSummary,
};

// Prints |format| as printf would with "%d" conversions only, which is all
// the tables use; the texts stay far below the 128-unit buffer this mirrors.
std::u16string FormatDecimals(const std::u16string& format,
                              std::initializer_list<std::int32_t> values) {
  std::u16string out;
  auto next = values.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u'd' &&
        next != values.end()) {
      out += ToWideDecimal(*next++);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

// |format| with its "%s" filled by |values| in order.
std::u16string FormatTexts(const std::u16string& format,
                           std::initializer_list<std::u16string> values) {
  std::u16string out;
  auto next = values.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u's' &&
        next != values.end()) {
      out += *next++;
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

constexpr std::u16string_view kNeeded = u" | needed=";
constexpr std::u16string_view kFree = u" free=";

}  // namespace

const std::u16string& UiStringSlot(const UiStrings& strings, std::size_t slot) {
  return strings.*kSlots.at(slot);
}

std::u16string& UiStringSlot(UiStrings& strings, std::size_t slot) {
  return strings.*kSlots.at(slot);
}

std::u16string FormatStartGameCount(const UiStrings& strings, std::int32_t seconds) {
  return FormatDecimals(strings.StartGameCount, {seconds});
}

std::u16string FormatFilesUpdated(const UiStrings& strings, std::int32_t files) {
  return FormatDecimals(files == 1 ? strings.FileUpdated : strings.FilesUpdated, {files});
}

std::u16string FormatVerifyingFiles(const UiStrings& strings, std::int32_t current,
                                    std::int32_t total) {
  return FormatDecimals(strings.VerifyingFiles, {current, total});
}

std::u16string FormatPreparingDownloads(const UiStrings& strings, std::int32_t current,
                                        std::int32_t total) {
  return FormatDecimals(strings.PreparingDownloads, {current, total});
}

std::u16string ErrorMessageForCode(const UiStrings& strings, PatchErrorCode code) {
  switch (code) {
    case PatchErrorCode::ConfigUnavailable:
      return strings.ErrorConnect;
    case PatchErrorCode::CrcListUnavailable:
      return strings.ErrorListDownload;
    case PatchErrorCode::CrcListInvalid:
      return strings.ErrorListInvalid;
    case PatchErrorCode::CrcListEmpty:
      return strings.ErrorListEmpty;
    case PatchErrorCode::PatchUrlMissing:
    case PatchErrorCode::ConfigInvalid:
      return strings.ErrorConfigIncomplete;
    case PatchErrorCode::DownloadFailed:
      return strings.ErrorFileDownload;
    case PatchErrorCode::UnpackSizeMismatch:
    case PatchErrorCode::ChecksumMismatch:
      return strings.ErrorFileCorrupt;
    case PatchErrorCode::WriteFailed:
      return strings.ErrorFileSave;
    case PatchErrorCode::DecompressFailed:
      return strings.ErrorUnpack;
    case PatchErrorCode::FileInUse:
      return strings.ErrorFilesInUse;
    case PatchErrorCode::ReleaseSignatureInvalid:
    case PatchErrorCode::NotInSignedRelease:
      return strings.ErrorReleaseUntrusted;
    case PatchErrorCode::ReleaseExpired:
      return strings.ErrorReleaseExpired;
    case PatchErrorCode::ReleaseRolledBack:
      return strings.ErrorReleaseRolledBack;
    case PatchErrorCode::SignedHashMismatch:
      return strings.ErrorFileNotSigned;
    case PatchErrorCode::LinkInGameFolder:
      return strings.ErrorLinkInGameFolder;
    case PatchErrorCode::ReleaseWrongChannel:
      return strings.ErrorReleaseWrongChannel;
    case PatchErrorCode::ReleaseStateDamaged:
      return strings.ErrorReleaseStateDamaged;
    case PatchErrorCode::DiskSpaceInsufficient:
      return strings.ErrorFileSave;  // without the amounts (FailureStatusText has them)
    case PatchErrorCode::Unknown:
    default:
      return strings.ErrorUnknown;
  }
}

std::u16string DiskSpaceDetail(const std::u16string& folder, std::int64_t needed,
                               std::int64_t free) {
  return folder + std::u16string(kNeeded) + ToWideDecimal(needed) + std::u16string(kFree) +
         ToWideDecimal(free);
}

std::u16string FailureStatusText(const UiStrings& strings, PatchErrorCode code,
                                 const std::optional<SpaceShortfall>& shortfall) {
  if (code == PatchErrorCode::DiskSpaceInsufficient && shortfall) {
    return FormatTexts(strings.ErrorDiskSpace,
                       {FormatByteSize(shortfall->needed), FormatByteSize(shortfall->free)});
  }
  return ErrorMessageForCode(strings, code);
}

std::u16string FormatTransferSummary(const UiStrings& strings, std::int64_t fetched,
                                     std::int64_t reused, std::int64_t resumed) {
  if (fetched <= 0 && reused <= 0 && resumed <= 0) return {};
  std::u16string line = FormatTexts(strings.DownloadedSummary, {FormatByteSize(fetched)});
  if (reused > 0) line += u", " + FormatTexts(strings.ReusedSummary, {FormatByteSize(reused)});
  if (resumed > 0) line += u", " + FormatTexts(strings.ResumedSummary, {FormatByteSize(resumed)});
  return line;
}

}  // namespace emberfall
