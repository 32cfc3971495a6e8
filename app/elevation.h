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
// copy was started; the caller then ends. (POSIX: there is no prompt to ask,
// so always false.)
bool RelaunchElevated(void* module);

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
