// The launcher's end after its message loop, under one time budget.
#ifndef EMBERFALL_APP_LAUNCHER_SHUTDOWN_H_
#define EMBERFALL_APP_LAUNCHER_SHUTDOWN_H_

#include <functional>

#include "core/win/windows_include.h"

namespace emberfall {

// Stops the patch worker (|stopWorker| waits at most the milliseconds it is
// given and answers whether the worker ended), then runs |teardown| (the
// COM objects and the apartment), all within |budgetMs| from this call.
// When the worker does not end in time, or the budget runs out during the
// teardown or afterwards before the process has ended, the process is
// terminated at once with |exitCode|: no DLL detach code runs, which a
// worker killed inside a library could have left waiting on a lock. After
// an orderly teardown, returns |exitCode| for the entry function to return;
// the budget then still bounds the C runtime's exit.
int ShutDownLauncher(int exitCode, DWORD budgetMs, const std::function<bool(DWORD)>& stopWorker,
                     const std::function<void()>& teardown);

}  // namespace emberfall

#endif  // EMBERFALL_APP_LAUNCHER_SHUTDOWN_H_
