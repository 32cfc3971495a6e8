#include "core/disk_space.h"

#include <limits>

#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {

std::optional<std::int64_t> FreeDiskSpace(const std::u16string& folder) {
  if (folder.empty()) return std::nullopt;
  try {
    std::wstring path = win::ToWinString(folder);
    // A UNC share is only understood with its trailing separator; a local
    // folder does not mind one.
    if (path.back() != L'\\' && path.back() != L'/') path += L'\\';
    // The caller's figure, not the volume's: disk quotas apply to it.
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    const auto max = static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(available.QuadPart > max ? max : available.QuadPart);
  } catch (const std::exception&) {
    return std::nullopt;  // out of memory making the path
  }
}

}  // namespace emberfall
