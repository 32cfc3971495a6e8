#include "app/launcher_shutdown.h"

#include <chrono>

#include "app/bounded_shutdown.h"

namespace emberfall {

int ShutDownLauncher(int exitCode, DWORD budgetMs, const std::function<bool(DWORD)>& stopWorker,
                     const std::function<void()>& teardown) {
  // TerminateProcess, not ExitProcess: ExitProcess runs DLL detach code after
  // killing the worker, and a worker killed inside WinHTTP or the C runtime
  // may hold a lock that code waits on for ever.
  BoundedShutdown shutdown(std::chrono::milliseconds(budgetMs), [exitCode] {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  });
  shutdown.KeepArmedPastExit();
  shutdown.Run([&stopWorker](std::chrono::milliseconds left) {
    return stopWorker(static_cast<DWORD>(left.count()));
  }, teardown);
  return exitCode;
}

}  // namespace emberfall
