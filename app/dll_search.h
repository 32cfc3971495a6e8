// Where the elevated launcher may load DLLs from. Windows only.
#ifndef EMBERFALL_APP_DLL_SEARCH_H_
#define EMBERFALL_APP_DLL_SEARCH_H_

namespace emberfall {

// Limits every later DLL search of the process (LoadLibrary, delay-loaded
// imports, the dependencies of both) to System32, so a DLL of a matching
// name in the executable's folder, which the player can write, is never
// loaded. Call first thing in the entry point: imports the loader resolved
// before it are not covered, which is why the launcher delay-loads every
// DLL that is not a Known DLL (cmake/EmbDelayLoad.cmake). Returns false when
// the system refuses; the search order is then unchanged.
bool RestrictDllSearchToSystem32();

}  // namespace emberfall

#endif  // EMBERFALL_APP_DLL_SEARCH_H_
