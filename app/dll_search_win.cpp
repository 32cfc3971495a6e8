#include "app/dll_search.h"

#include "core/win/windows_include.h"

namespace emberfall {

bool RestrictDllSearchToSystem32() {
  return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
}

}  // namespace emberfall
