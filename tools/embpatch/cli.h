// The command-line framework of embpatch: a table of commands, an option
// parser shared by all of them, and output helpers. Output is UTF-8 with LF
// line ends on every platform, so scripts see the same bytes everywhere.
#ifndef EMBERFALL_TOOLS_EMBPATCH_CLI_H_
#define EMBERFALL_TOOLS_EMBPATCH_CLI_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emberfall::cli {

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct OptionDef {
  std::string_view name;  // "--size" or "-o"
  bool takes_value;
  bool repeatable;
};

// The parsed command line of one command.
class ParsedArgs {
 public:
  const std::vector<std::string>& positional() const { return positional_; }
  bool Has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
  // The last value of an option, or nullopt.
  std::optional<std::string> Value(std::string_view name) const;
  // Every value of a repeatable option, in order.
  std::vector<std::string> Values(std::string_view name) const;

 private:
  friend bool ParseArgs(const std::vector<std::string>&, const std::vector<OptionDef>&,
                        ParsedArgs&, std::string&);
  std::vector<std::string> positional_;
  std::map<std::string, std::vector<std::string>, std::less<>> values_;
};

// Splits |args| into options of |defs| and positional arguments ("--" ends
// the options). Returns false with |error| set on an unknown option, a missing
// value or a repeated non-repeatable option.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
               ParsedArgs& parsed, std::string& error);

// Parses a non-negative decimal integer of at most 63 bits.
bool ParseCount(std::string_view text, std::int64_t& value);

struct Command {
  std::string_view name;
  std::string_view synopsis;  // arguments after the name
  std::string_view summary;   // one line for the overview
  std::string_view help;      // the full description
  int (*run)(const std::vector<std::string>& args);
};

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
