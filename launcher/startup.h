// The launcher process's start-up and shutdown around its window: elevation,
// the single instance, COM, the video preparation, the message loop and the
// bounded wait for the patch worker.
#ifndef EMBERFALL_LAUNCHER_STARTUP_H_
#define EMBERFALL_LAUNCHER_STARTUP_H_

#include "core/win/windows_include.h"

namespace emberfall {

inline constexpr wchar_t kSingleInstanceMutexName[] = L"Global\\EmbLauncherSingleInstance";
inline constexpr DWORD kShutdownWaitMs = 3000;

struct SingleInstanceGuard {
  bool acquired = false;  // this process is the first instance
};

// Creates and owns the named mutex for the rest of the process. When another
// instance holds it and shows its window, brings that window forward
// (restoring it if minimised) and answers not acquired at once. When that
// instance is closing (its window hidden, gone or marked closing), waits up
// to kClosingInstanceWaitMs for it to end and answers acquired if it did.
// A mutex that cannot be made answers not acquired. (See
// ClaimSingleInstance.)
SingleInstanceGuard AcquireSingleInstance(HINSTANCE instance);

// The whole launcher run; returns the process exit code (0 or 1). The
// shutdown after the message loop (the worker's stop and the COM teardown
// together) is bounded by kShutdownWaitMs from the loop's end; past that,
// or when the worker outlives it, the process is terminated at once with
// the loop's exit code.
int RunLauncher(HINSTANCE instance);

}  // namespace emberfall

#endif  // EMBERFALL_LAUNCHER_STARTUP_H_
