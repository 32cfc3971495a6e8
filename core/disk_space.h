// How much room the volume that holds a folder has left.
#ifndef EMBERFALL_CORE_DISK_SPACE_H_
#define EMBERFALL_CORE_DISK_SPACE_H_

#include <cstdint>
#include <optional>
#include <string>

namespace emberfall {

// The bytes this process may still write on the volume of |folder| (an
// existing folder): what the volume has free for this user, after quotas
// and reserved blocks. nullopt when the system cannot tell. Never throws;
// any thread.
std::optional<std::int64_t> FreeDiskSpace(const std::u16string& folder);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_DISK_SPACE_H_
