// Administrator rights: the token test, the self-relaunch through the
// elevation prompt, and the three short texts about permission, chosen by
// the Windows display language (locale.cfg plays no part here).
#ifndef EMBERFALL_APP_ELEVATION_H_
#define EMBERFALL_APP_ELEVATION_H_

#include <cstdint>
#include <string>

namespace emberfall {

// True when the process token is elevated. A failing token query counts as
// not elevated. (POSIX: the effective user is root.)
bool IsProcessElevated();

// Starts a copy of the executable of |module| (nullptr: this executable)
// with the "runas" verb, without arguments, in its own folder. True when the
// copy was started; the caller then ends. While it runs, a relaunch marker
// for that executable exists (see relaunch_marker.h), and it waits up to
// kRelaunchAnswerWaitMs for the copy to answer or end before returning.
// (POSIX: there is no prompt to ask, so always false.)
bool RelaunchElevated(void* module);

inline constexpr unsigned kRelaunchAnswerWaitMs = 5000;

enum class ElevationStep {
  kRun,       // elevated: go on with the start-up
  kRelaunch,  // ask for elevation through a "runas" copy
  kGiveUp,    // show AdminRequiredText and end with 1
};

// The start-up's elevation decision. |relaunchedCopy|: a parent's relaunch
// marker exists, so this process is the copy it started; a copy that is
// still not elevated gives up instead of relaunching again, which would
// loop for as long as the token reads as not elevated.
ElevationStep DecideElevationStep(bool elevated, bool relaunchedCopy);

// The texts for a primary language identifier (the low ten bits of the UI
// language): 31 Turkish, 7 German, anything else English.
std::u16string AdminRequiredText(std::uint16_t primaryLanguage);
std::u16string LaunchCancelledText(std::uint16_t primaryLanguage);
std::u16string ElevationRequiredText(std::uint16_t primaryLanguage);

// The same for the user's UI language.
std::u16string AdminRequiredText();
std::u16string LaunchCancelledText();
std::u16string ElevationRequiredText();

}  // namespace emberfall

#endif  // EMBERFALL_APP_ELEVATION_H_
