#include "app/game_launch.h"

#include <filesystem>
#include <system_error>

#include "app/error_reporter.h"
#include "core/fs_path.h"
#include "core/patch_engine.h"
#include "core/text.h"

namespace emberfall {

int LaunchGameIn(const std::u16string& gameFolder, const std::u16string& runPath,
                 const ErrorReportSink& report, std::uint32_t* launchError,
                 const ProcessStarter& starter) {
  std::uint32_t error = 0;
  if (launchError != nullptr) *launchError = 0;
  const std::filesystem::path gamePath = FsPath(gameFolder) / FsPath(runPath);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(gamePath, ec) || ec) {
    report(u"Game binary missing: " + runPath, u"LaunchGame");
    return kLaunchEntryMissing;
  }
  if (StartGameProcess(WidePath(gamePath), gameFolder, &error, starter)) return kLaunchStarted;
  if (launchError != nullptr) *launchError = error;
  report(u"Launch failed: " + WidePath(gamePath) + u" | err=" + ToWideDecimalUnsigned(error),
         u"LaunchGame");
  return kLaunchFailed;
}

int PatchEngine::LaunchGame() {
  const ErrorReportSink sink = options_.reportError ? options_.reportError : ErrorReportSink(ReportError);
  return LaunchGameIn(paths_.gameFolder, progress_.runPath, sink, &launchError_);
}

}  // namespace emberfall
