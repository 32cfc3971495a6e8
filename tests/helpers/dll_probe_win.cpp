// Starts like the launcher, then makes one call into winhttp.dll through a
// delay-loaded import, as the launcher does. "--default-search" skips the
// restriction, to show that a planted DLL would be loaded without it.
#include <cwchar>

#include "app/dll_search.h"
#include "core/win/windows_include.h"

#include <winhttp.h>

int wmain(int argc, wchar_t** argv) {
  const bool restrict = !(argc > 1 && std::wcscmp(argv[1], L"--default-search") == 0);
  if (restrict && !emberfall::RestrictDllSearchToSystem32()) return 2;
  return WinHttpCheckPlatform() ? 0 : 1;
}
