#include <unistd.h>

#include "app/elevation.h"

namespace emberfall {

bool IsProcessElevated() { return geteuid() == 0; }

bool RelaunchElevated(void*) { return false; }

}  // namespace emberfall
