// Whether the game folder's volume can hold a run's downloads, asked before
// the first request of the download stage: a volume that runs full part way
// fails a run late, with files half replaced and bytes downloaded for
// nothing.
#ifndef EMBERFALL_ENGINE_DISK_SPACE_CHECK_H_
#define EMBERFALL_ENGINE_DISK_SPACE_CHECK_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/game_folder.h"

namespace emberfall {

// The free bytes of the volume of a folder; nullopt when unknown.
using FreeSpaceQuery = std::function<std::optional<std::int64_t>(const std::u16string& folder)>;

// One file a run installs: its new size, and what it has now.
struct SpaceNeed {
  std::int64_t newSize = 0;  // decoded size, 0 .. kMaxDecodedSize
  std::int64_t oldSize = 0;  // of the file it replaces; 0 when there is none
};

// How the downloads run: at most |connections| jobs at once, and together
// no more than |budget| bytes of PayloadLimit + size unless a job runs alone
// (TransferScheduler::RunJobs).
// |storeLimit|: what a store of fetched chunks may take (0: no store); only
// files large enough for a chunked update can fill it.
struct SpaceLimits {
  unsigned connections = 1;
  std::int64_t budget = 0;
  std::int64_t storeLimit = 0;
};

// The most bytes the installs can add to the volume at any moment, whatever
// order the jobs finish in.
std::int64_t PeakExtraSpace(const std::vector<SpaceNeed>& files, const SpaceLimits& limits);

// The need of the file at |path| below |root| that gets |newSize| bytes,
// its old size as found on disk (0 when there is no file to read).
// |keptAside| (the launcher's own file below the root, or empty) is moved
// aside, not replaced, so its old bytes stay in use: it counts as new. The
// paths are compared by PathKey, as the volume compares names.
SpaceNeed SpaceNeedOf(const GameFolder& root, const std::u16string& path, std::int64_t newSize,
                      const std::u16string& keptAside);

// Throws PatchFailure DiskSpaceInsufficient with DiskSpaceDetail(|folder|,
// needed, free) and the SpaceShortfall {needed, free} when |freeSpace|
// (empty: FreeDiskSpace) says the volume of |folder| has fewer free bytes
// than PeakExtraSpace needs. A volume whose
// free space cannot be read is not checked.
void CheckDiskSpace(const std::u16string& folder, const std::vector<SpaceNeed>& files,
                    const SpaceLimits& limits, const FreeSpaceQuery& freeSpace);

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_DISK_SPACE_CHECK_H_
