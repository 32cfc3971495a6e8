// Owners of Win32 kernel and registry handles. Two flavours of kernel handle,
// because the API marks failure two ways: CreateFileW returns
// INVALID_HANDLE_VALUE, while events, mutexes, processes and threads come
// back as NULL.
#ifndef EMBERFALL_CORE_WIN_SCOPED_HANDLE_H_
#define EMBERFALL_CORE_WIN_SCOPED_HANDLE_H_

#include "core/scoped_generic.h"
#include "core/win/windows_include.h"

namespace emberfall::win {

struct NullHandleTraits {
  using Handle = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static bool Close(HANDLE handle) { return CloseHandle(handle) != 0; }
};

struct FileHandleTraits {
  using Handle = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  // NULL is no file either; it is never closed.
  static bool IsValid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
  static bool Close(HANDLE handle) { return CloseHandle(handle) != 0; }
};

// Events, mutexes, processes, threads, tokens, pipes.
using ScopedHandle = ScopedGeneric<NullHandleTraits>;
// Handles from CreateFileW.
using ScopedFileHandle = ScopedGeneric<FileHandleTraits>;
// Opened or created registry keys (not the predefined roots).
using ScopedRegistryKey = ScopedGeneric<FreeFunctionTraits<HKEY, &RegCloseKey>>;
// Modules from LoadLibrary*, one reference each.
using ScopedLibrary = ScopedGeneric<FreeFunctionTraits<HMODULE, &FreeLibrary>>;
// Memory the system allocated with LocalAlloc for the caller to free
// (CommandLineToArgvW's array, FormatMessageW's text); |T| is its pointer type.
// Searches from FindFirstFileExW, which mark failure with INVALID_HANDLE_VALUE.
struct FindHandleTraits {
  using Handle = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(HANDLE handle) { return FindClose(handle) != 0; }
};
using ScopedFindHandle = ScopedGeneric<FindHandleTraits>;
template <typename T>
using ScopedLocalMemory = ScopedGeneric<FreeFunctionTraits<T, &LocalFree>>;

}  // namespace emberfall::win

#endif  // EMBERFALL_CORE_WIN_SCOPED_HANDLE_H_
