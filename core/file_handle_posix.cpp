#include "core/file_handle.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace emberfall {

bool PlatformFileTraits::Close(Handle native) {
  // A close interrupted by a signal has still released the descriptor on
  // Linux; retrying could close someone else's.
  return ::close(static_cast<int>(native)) == 0 || errno == EINTR;
}

bool ReadChunk(const FileHandle& file, void* buffer, size_t capacity, size_t& got) {
  got = 0;
  const size_t ask = std::min<size_t>(capacity, SSIZE_MAX);
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(file.get()), buffer, ask);
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

}  // namespace emberfall
