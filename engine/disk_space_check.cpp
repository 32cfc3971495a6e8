#include "engine/disk_space_check.h"

#include <algorithm>
#include <functional>

#include "core/disk_space.h"
#include "core/file_state.h"
#include "core/patch_error.h"
#include "core/payload.h"
#include "core/text.h"
#include "core/ui_strings.h"
#include "engine/chunked_update.h"
#include "engine/payload_part.h"

namespace emberfall {

// A file is installed in three steps: its payload arrives (kept on disk as a
// part, up to PayloadLimit bytes, so that a broken download can resume), the
// decoded file is staged beside its target at its full new size, and the
// staged file atomically replaces the old one, after which the part goes.
// So while a job is in flight it holds part + new size beside the old file;
// once done, its file has grown by new - old for good.
//
// Jobs run side by side and end in any order, so a file that shrinks may be
// the last to be replaced: its room cannot be counted on before then. The
// peak is therefore bounded by
//   the growth of every file that grows (new - old, new files whole), which
//   all may be done before any shrink, plus
//   what the jobs in flight hold beyond that growth: part + new - max(0,
//   new - old) = part + min(new, old) each, summed over the largest set the
//   scheduler lets run at once: the |connections| largest, and no more than
//   the budget unless one job runs alone.
// A part kept by an earlier run is already on the volume and only grows to
// the part bound counted above, so it adds nothing here. A chunked rebuild
// stages the whole file but keeps no part: the bound holds for it too. The
// chunks it fetches stay in the store until the run succeeds, though, so the
// store's room comes on top, as far as the files that may go chunked can
// fill it.
std::int64_t PeakExtraSpace(const std::vector<SpaceNeed>& files, const SpaceLimits& limits) {
  std::int64_t growth = 0;
  std::int64_t store = 0;
  std::vector<std::int64_t> held;
  for (const SpaceNeed& file : files) {
    growth += std::max<std::int64_t>(0, file.newSize - file.oldSize);
    held.push_back(PayloadLimit(file.newSize) + std::min(file.newSize, file.oldSize));
    if (file.newSize >= kMinChunkedFileSize && file.oldSize > 0) {
      store = std::min(limits.storeLimit, store + PayloadLimit(file.newSize));
    }
  }
  const size_t together = std::min<size_t>(std::max(limits.connections, 1u), held.size());
  std::partial_sort(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(together), held.end(),
                    std::greater<>());
  std::int64_t inFlight = 0;
  for (size_t i = 0; i < together; ++i) inFlight += held[i];
  if (together > 1) inFlight = std::min(inFlight, std::max(limits.budget, held.front()));
  return growth + inFlight + store;
}

SpaceNeed SpaceNeedOf(const GameFolder& root, const std::u16string& path, std::int64_t newSize,
                      const std::u16string& keptAside) {
  SpaceNeed need{newSize, 0};
  // Names on the volume are case-insensitive: the launcher found as "Launcher.exe"
  // is the crclist's "launcher.exe".
  if (PathKey(path) == PathKey(keptAside)) return need;
  if (const std::optional<FileState> state = QueryFileStateBelow(root, path)) {
    need.oldSize = static_cast<std::int64_t>(std::min<std::uint64_t>(state->size, kMaxDecodedSize));
  }
  return need;
}

void CheckDiskSpace(const std::u16string& folder, const std::vector<SpaceNeed>& files,
                    const SpaceLimits& limits, const FreeSpaceQuery& freeSpace) {
  if (files.empty()) return;
  const std::optional<std::int64_t> free = freeSpace ? freeSpace(folder) : FreeDiskSpace(folder);
  if (!free) return;
  const std::int64_t needed = PeakExtraSpace(files, limits);
  if (needed > *free) {
    throw PatchFailure(PatchErrorCode::DiskSpaceInsufficient, DiskSpaceDetail(folder, needed, *free),
                       SpaceShortfall{needed, *free});
  }
}

}  // namespace emberfall
