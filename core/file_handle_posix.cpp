#include "core/file_handle.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace emberfall {

bool FileHandle::Read(void* buffer, size_t capacity, size_t& got) const {
  got = 0;
  const size_t ask = std::min<size_t>(capacity, SSIZE_MAX);
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(native_), buffer, ask);
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

bool FileHandle::Close() {
  if (!is_valid()) return true;
  // A close interrupted by a signal has still released the descriptor on
  // Linux; retrying could close someone else's.
  const int fd = static_cast<int>(std::exchange(native_, kInvalid));
  return ::close(fd) == 0 || errno == EINTR;
}

}  // namespace emberfall
