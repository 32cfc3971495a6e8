// Opening web links from the elevated launcher. A browser started by an
// elevated process runs elevated too, with the player's profile locked or
// split; the desktop shell (Explorer) runs with the player's normal rights,
// so links are handed to it.
#ifndef EMBERFALL_APP_SHELL_OPEN_H_
#define EMBERFALL_APP_SHELL_OPEN_H_

#include <functional>
#include <string>

#include "core/win/windows_include.h"

namespace emberfall {

// Asks the desktop shell's own process to open |url| with the "open" verb,
// shown normally. True when the shell accepted the request; false when any
// step fails (no desktop shell runs, as in a session without Explorer or
// under Wine, or COM is not initialised on this thread), and nothing was
// opened then. Needs COM on the calling thread; UI thread only.
bool OpenUrlUnelevated(const std::u16string& url);

// ShellExecuteW(owner, "open", url) from this process; the browser then
// inherits the launcher's token.
void OpenUrlDirect(HWND owner, const std::u16string& url);

// The two ways OpenUrl can take; tests replace them.
struct UrlOpeners {
  std::function<bool(const std::u16string& url)> unelevated = OpenUrlUnelevated;
  std::function<void(HWND owner, const std::u16string& url)> direct = OpenUrlDirect;
};

// Opens |url| through the desktop shell, or directly when that fails, so a
// click always opens something. UI thread only.
void OpenUrl(HWND owner, const std::u16string& url, const UrlOpeners& openers = {});

}  // namespace emberfall

#endif  // EMBERFALL_APP_SHELL_OPEN_H_
