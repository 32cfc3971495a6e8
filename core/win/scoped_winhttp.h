// Owners of WinHTTP session, connection and request handles, which close
// with WinHttpCloseHandle, not CloseHandle.
#ifndef EMBERFALL_CORE_WIN_SCOPED_WINHTTP_H_
#define EMBERFALL_CORE_WIN_SCOPED_WINHTTP_H_

#include "core/scoped_generic.h"
#include "core/win/windows_include.h"

// After windows.h, which it needs.
#include <winhttp.h>

namespace emberfall::win {

using ScopedInternetHandle = ScopedGeneric<FreeFunctionTraits<HINTERNET, &WinHttpCloseHandle>>;

}  // namespace emberfall::win

#endif  // EMBERFALL_CORE_WIN_SCOPED_WINHTTP_H_
