// The launcher's entry point. It reads none of its parameters: there are no
// command-line options.
#include "app/dll_search.h"
#include "launcher/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: the launcher runs elevated, and its
  // folder is the player's to write.
  emberfall::RestrictDllSearchToSystem32();
  try {
    return emberfall::RunLauncher(instance);
  } catch (...) {
    return 1;
  }
}
