// A move-only owner of one open file of the platform: a CreateFileW handle on
// Windows, a descriptor elsewhere. Both mark "no file" with -1
// (INVALID_HANDLE_VALUE is (HANDLE)-1), so the value fits one integer type and
// this header stays free of platform includes.
#ifndef EMBERFALL_CORE_FILE_HANDLE_H_
#define EMBERFALL_CORE_FILE_HANDLE_H_

#include <cstddef>
#include <cstdint>

#include "core/scoped_generic.h"

namespace emberfall {

struct PlatformFileTraits {
  using Handle = std::intptr_t;
  static constexpr Handle Invalid() { return -1; }
  // CloseHandle on Windows, close elsewhere; true when it succeeded (on
  // POSIX also when a signal interrupted it: the descriptor is gone then).
  static bool Close(Handle native);
};

// Takes a HANDLE or a descriptor; CloseChecked reports the close's result.
using FileHandle = ScopedGeneric<PlatformFileTraits>;

// Reads up to |capacity| bytes of |file| at its current position (ReadFile /
// read). Returns false on a read error; |got| is 0 at end of file.
bool ReadChunk(const FileHandle& file, void* buffer, size_t capacity, size_t& got);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_FILE_HANDLE_H_
