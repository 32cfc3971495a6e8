// The command-line framework of embpatch: the table of commands (how each is
// parsed and described: command_line.h), the dispatch and output helpers.
// Output is UTF-8 with LF line ends on every platform, so scripts see the
// same bytes everywhere.
#ifndef EMBERFALL_TOOLS_EMBPATCH_CLI_H_
#define EMBERFALL_TOOLS_EMBPATCH_CLI_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/embpatch/command_line.h"

namespace emberfall::cli {

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Parses a count: 1 to 18 decimal digits, leading zeros allowed, no sign.
bool ParseCount(std::string_view text, std::int64_t& value);

// Every command, in the order the overview lists them.
const std::vector<Command>& Commands();

// |text| made harmless for a terminal: every C0 control character (TAB and
// LF included), DEL and each byte that is not part of a valid UTF-8 sequence
// become "\xNN", and the C1 controls U+0080-U+009F become "\u{NN}";
// everything else is kept. Backslashes are not doubled, so the Windows paths
// in the output read as they are: the escaping protects the terminal, it is
// not meant to be undone.
std::string TerminalSafe(std::string_view text);

// Output. Out() and Err() write their bytes as given, for what must pass
// unchanged (a fetched body, the live display's own control sequences);
// text that may come from a server goes through the Line() forms, which
// write TerminalSafe(|text|) and "\n", or through TerminalSafe itself.
void Out(std::string_view text);
void OutLine(std::string_view text);
void Err(std::string_view text);
void ErrLine(std::string_view text);

// Prints the problem, "usage: embpatch <name> <synopsis>" and a hint to
// stderr; returns kExitUsage.
int UsageError(std::string_view command_name, std::string_view problem);

// Reads a whole file. On failure |error| is a one-line reason such as
// "cannot read 'x': No such file or directory".
bool ReadWholeFile(const std::string& utf8_path, std::string& bytes, std::string& error);

// Writes a whole file (created or truncated). On failure |error| is set.
bool WriteWholeFile(const std::string& utf8_path, std::string_view bytes, std::string& error);

// Writes |bytes| to "<path>.publishing" and renames it onto |path|, so that a
// server never serves half a file. On failure |error| is set and the
// temporary file is gone.
bool WriteReplacing(const std::filesystem::path& path, std::string_view bytes, std::string& error);

// Runs the tool on arguments after the program name; returns the exit code.
int RunEmbpatch(const std::vector<std::string>& args);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_CLI_H_
