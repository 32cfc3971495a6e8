// The marker that ties an unelevated launcher to the "runas" copy it starts:
// a named event in the session's namespace, named after the executable, that
// exists only while the parent waits for the copy. A copy that finds it knows
// it was started by a relaunch.
#ifndef EMBERFALL_APP_RELAUNCH_MARKER_H_
#define EMBERFALL_APP_RELAUNCH_MARKER_H_

#include <string>
#include <string_view>

#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"

namespace emberfall {

// The full path of |module|'s file (nullptr: this executable); empty when it
// cannot be read or is longer than MAX_PATH.
std::wstring ModuleFilePath(HMODULE module);

// "Local\EmbLauncherRelaunch." and a hash of the upper-cased path, so that
// copies of the launcher in other folders do not meet.
std::wstring RelaunchMarkerName(std::wstring_view executablePath);

class RelaunchMarker {
 public:
  RelaunchMarker() = default;

  // The parent's side: creates the marker for |executablePath|. Empty when
  // it cannot be made; the relaunch then goes on unguarded.
  static RelaunchMarker Create(std::wstring_view executablePath);
  // The copy's side: opens the marker a parent made for |executablePath|;
  // empty when there is none.
  static RelaunchMarker Open(std::wstring_view executablePath);

  explicit operator bool() const { return event_.is_valid(); }

  // The copy has started and made its elevation decision. No-op when empty.
  void Answer() const;

  // Waits until the copy answers or |process| ends, at most |timeoutMs|.
  // True when the copy answered. |process| may be null (the shell gave no
  // handle): then only the answer or the time-out ends the wait.
  bool WaitForAnswer(HANDLE process, DWORD timeoutMs) const;

 private:
  explicit RelaunchMarker(HANDLE event) : event_(event) {}

  win::ScopedHandle event_;
};

}  // namespace emberfall

#endif  // EMBERFALL_APP_RELAUNCH_MARKER_H_
