// The terminal facts embpatch's live display needs, per platform.
#ifndef EMBERFALL_TOOLS_EMBPATCH_TERMINAL_H_
#define EMBERFALL_TOOLS_EMBPATCH_TERMINAL_H_

#include <atomic>

namespace emberfall::cli {

// True when standard output is an interactive terminal that understands the
// ANSI cursor controls (enabled on Windows consoles as a side effect).
bool StdoutIsInteractiveTerminal();

// True when standard output is a terminal of any kind (a console on
// Windows), whatever it understands: bytes written there are interpreted,
// not stored.
bool StdoutIsTerminal();

// Routes Ctrl-C (SIGINT / the console's control handler) to |flag| instead of
// ending the process. Idempotent.
void InstallInterruptFlag(std::atomic<bool>* flag);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_TERMINAL_H_
