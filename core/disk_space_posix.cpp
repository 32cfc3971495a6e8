#include "core/disk_space.h"

#include <sys/statvfs.h>

#include <limits>

#include "core/fs_path.h"

namespace emberfall {

std::optional<std::int64_t> FreeDiskSpace(const std::u16string& folder) {
  struct statvfs volume {};
  try {
    if (folder.empty() || statvfs(FsPath(folder).c_str(), &volume) != 0) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;  // out of memory making the path
  }
  // f_bavail, not f_bfree: blocks kept for root are not ours to fill.
  const auto blocks = static_cast<std::uint64_t>(volume.f_bavail);
  const auto blockSize = static_cast<std::uint64_t>(volume.f_frsize);
  const auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (blockSize != 0 && blocks > max / blockSize) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(blocks * blockSize);
}

}  // namespace emberfall
