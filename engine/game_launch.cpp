#include "engine/game_launch.h"

#include <filesystem>
#include <system_error>

#include "core/crc32.h"
#include "core/file_state.h"
#include "core/game_folder.h"
#include "core/fs_path.h"
#include "engine/patch_engine.h"
#include "core/text.h"

namespace emberfall {

namespace {

LaunchResult LaunchSigned(const std::u16string& gameFolder, const std::u16string& runPath,
                 const ErrorReportSink& report, std::uint32_t* launchError,
                          const GameStarter& start, const Sha256Digest& signedHash) {
  const GameFolder root(gameFolder);
  const FolderLookup place = root.OpenParent(runPath, /*create=*/false);
  FileHandle program;
  if (place.status == FolderLookup::Status::kFound) program = OpenForLaunchAt(place.folder, place.name);
  if (!QueryFileState(program)) {
    report(u"Game binary missing: " + runPath, u"LaunchGame");
    return LaunchResult::kEntryMissing;
  }
  // Checked through the handle that keeps the file as it is until the
  // process has been created from it.
  HashBuffer buffer;
  Sha256 sha;
  std::uint32_t crc = 0;
  const bool read = Crc32File(program, crc, buffer, &sha);
  const Sha256Digest got = sha.Final();
  if (!read || got != signedHash) {
    if (launchError != nullptr) *launchError = kErrorInvalidImageHash;
    report(u"Game binary differs from the signed release: " + runPath + u" | expected=" +
               Utf8ToWide(HexEncode(signedHash)) + u" got=" +
               (read ? Utf8ToWide(HexEncode(got)) : std::u16string(u"unreadable")),
           u"LaunchGame");
    return LaunchResult::kFailed;
  }
  const std::u16string path = place.folder.PathOf(place.name);
  std::uint32_t error = kErrorNotSupported;
  if (start && start(path, gameFolder, &error)) return LaunchResult::kStarted;
  if (launchError != nullptr) *launchError = error;
  report(u"Launch failed: " + path + u" | err=" + ToWideDecimalUnsigned(error), u"LaunchGame");
  return LaunchResult::kFailed;
}

}  // namespace

LaunchResult LaunchGameIn(const std::u16string& gameFolder, const std::u16string& runPath,
                          const ErrorReportSink& report, std::uint32_t* launchError,
                          const GameStarter& start, const Sha256Digest* signedHash) {
  std::uint32_t error = kErrorNotSupported;
  if (launchError != nullptr) *launchError = 0;
  if (signedHash != nullptr) {
    return LaunchSigned(gameFolder, runPath, report, launchError, start, *signedHash);
  }
  const std::filesystem::path gamePath = FsPath(gameFolder) / FsPath(runPath);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(gamePath, ec) || ec) {
    report(u"Game binary missing: " + runPath, u"LaunchGame");
    return LaunchResult::kEntryMissing;
  }
  if (start && start(WidePath(gamePath), gameFolder, &error)) return LaunchResult::kStarted;
  if (launchError != nullptr) *launchError = error;
  report(u"Launch failed: " + WidePath(gamePath) + u" | err=" + ToWideDecimalUnsigned(error),
         u"LaunchGame");
  return LaunchResult::kFailed;
}

LaunchResult PatchEngine::LaunchGame() {
  const ErrorReportSink sink =
      options_.reportError ? options_.reportError : [](const std::u16string&, const std::u16string&) {};
  return LaunchGameIn(paths_.gameFolder, runPath_, sink, &launchError_, options_.startGame,
                      launchHash_ ? &*launchHash_ : nullptr);
}

}  // namespace emberfall
