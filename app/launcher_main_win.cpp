// The launcher's entry point. It reads none of its parameters: there are no
// command-line options.
#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    return emberfall::RunLauncher(instance);
  } catch (...) {
    return 1;
  }
}
