// The launcher process's start-up and shutdown around its window: elevation,
// the single instance, COM, the video preparation, the message loop and the
// bounded wait for the patch worker.
#ifndef EMBERFALL_APP_STARTUP_H_
#define EMBERFALL_APP_STARTUP_H_

#include "core/win/windows_include.h"

namespace emberfall {

inline constexpr wchar_t kSingleInstanceMutexName[] = L"Global\\EmbLauncherSingleInstance";
inline constexpr DWORD kShutdownWaitMs = 3000;

struct SingleInstanceGuard {
  bool acquired = false;  // this process is the first instance
};

// Creates and owns the named mutex for the rest of the process. When another
// instance holds it, brings that instance's window forward (restoring it if
// minimised) and answers not acquired; so does a mutex that cannot be made.
SingleInstanceGuard AcquireSingleInstance(HINSTANCE instance);

// The whole launcher run; returns the process exit code (0 or 1), or ends
// the process at once when the patch worker outlives the shutdown wait.
int RunLauncher(HINSTANCE instance);

}  // namespace emberfall

#endif  // EMBERFALL_APP_STARTUP_H_
