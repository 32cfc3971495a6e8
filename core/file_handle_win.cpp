#include "core/file_handle.h"

#include <algorithm>

#include "core/win/windows_include.h"

namespace emberfall {
namespace {

HANDLE AsHandle(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

}  // namespace

bool PlatformFileTraits::Close(Handle native) { return CloseHandle(AsHandle(native)) != 0; }

bool ReadChunk(const FileHandle& file, void* buffer, size_t capacity, size_t& got) {
  got = 0;
  const DWORD ask = static_cast<DWORD>(std::min<size_t>(capacity, 0x7FFFFFFFu));
  DWORD read = 0;
  if (!ReadFile(AsHandle(file.get()), buffer, ask, &read, nullptr)) return false;
  got = read;
  return true;
}

}  // namespace emberfall
