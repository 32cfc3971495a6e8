// The launcher's one-instance rule: a named mutex owned for the life of the
// first instance, and what a second start does about the first one's window.
#ifndef EMBERFALL_APP_SINGLE_INSTANCE_H_
#define EMBERFALL_APP_SINGLE_INSTANCE_H_

#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"

namespace emberfall {

// Set (to any non-null value) on the first instance's window when its
// shutdown begins, so that a second start does not mistake a window about
// to go for one to bring forward.
inline constexpr wchar_t kClosingWindowProperty[] = L"EmbLauncherClosing";

// How long a second start waits for a closing first instance to end.
inline constexpr DWORD kClosingInstanceWaitMs = 5000;

// Creates the named mutex |mutexName| with ownership requested and returns
// it owned when this process is now the first instance. When another process
// holds it:
// - its window (top-level, class |windowClass|) visible, minimised or not,
//   and not marked with kClosingWindowProperty: the window is restored if
//   minimised, shown and made the foreground window, and the answer is empty
//   at once;
// - its window missing, hidden or marked closing: that instance is ending,
//   so this waits up to |closingWaitMs| for the mutex and returns it owned
//   once it is released or abandoned; on time-out it brings a window that
//   has come up meanwhile forward as above and answers empty.
// Empty, too, when the mutex cannot be made. Blocks the calling thread for
// at most |closingWaitMs|.
win::ScopedHandle ClaimSingleInstance(const wchar_t* mutexName, const wchar_t* windowClass,
                                      DWORD closingWaitMs);

}  // namespace emberfall

#endif  // EMBERFALL_APP_SINGLE_INSTANCE_H_
