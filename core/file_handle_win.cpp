#include "core/file_handle.h"

#include <algorithm>

#include "core/win/windows_include.h"

namespace emberfall {
namespace {

HANDLE AsHandle(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

}  // namespace

bool FileHandle::Read(void* buffer, size_t capacity, size_t& got) const {
  got = 0;
  const DWORD ask = static_cast<DWORD>(std::min<size_t>(capacity, 0x7FFFFFFFu));
  DWORD read = 0;
  if (!ReadFile(AsHandle(native_), buffer, ask, &read, nullptr)) return false;
  got = read;
  return true;
}

bool FileHandle::Close() {
  if (!is_valid()) return true;
  return CloseHandle(AsHandle(std::exchange(native_, kInvalid))) != 0;
}

}  // namespace emberfall
