// The commands of embpatch as tables: each command's operands and options,
// from which its parsing, its usage line, its help and the overview are all
// made, so that what the tool accepts and what it says it accepts cannot part.
#ifndef EMBERFALL_TOOLS_EMBPATCH_COMMAND_LINE_H_
#define EMBERFALL_TOOLS_EMBPATCH_COMMAND_LINE_H_

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace emberfall::cli {

struct OptionRule {
  std::string_view name;   // "--size" or "-o"
  std::string_view value;  // what it takes, as the usage line names it ("N"); empty: a flag
  // Its lines in the command's help, the first beside the option and each
  // after a "\n" below it; empty: the help names it in prose or not at all.
  std::string_view help = {};
  bool required = false;
  bool repeatable = false;      // every value is kept, in order
  std::string_view needs = {};  // an option without which this one is refused
  std::string_view if_missing = {};  // the problem when a required one is absent
                                     // (default "<name> is required")
};

struct Command;

// The parsed command line of one command.
class ParsedArgs {
 public:
  const std::vector<std::string>& positional() const { return positional_; }
  bool Has(std::string_view name) const { return values_.count(name) != 0; }
  // The value of an option, or nullopt.
  std::optional<std::string> Value(std::string_view name) const;
  // Every value of a repeatable option, in order.
  std::vector<std::string> Values(std::string_view name) const;
  // "--x needs --y" for the first option given without the option it needs
  // (OptionRule::needs), else empty. The command decides when to refuse it,
  // so that its own checks of values can come first.
  const std::string& unmet_need() const { return unmet_need_; }

 private:
  friend bool ParseArgs(const std::vector<std::string>&, std::span<const OptionRule>, ParsedArgs&,
                        std::string&);
  friend bool ParseCommandLine(const Command&, const std::vector<std::string>&, ParsedArgs&,
                               std::string&);
  std::vector<std::string> positional_;
  std::string unmet_need_;
  std::map<std::string, std::vector<std::string>, std::less<>> values_;
};

// Splits |args| into options of |rules| and positional arguments ("--" ends
// the options; "--name=value" is the same as "--name value"). Returns false
// with |error| set on an unknown option, a missing value, a value given to a
// flag or a repeated option that does not repeat.
bool ParseArgs(const std::vector<std::string>& args, std::span<const OptionRule> rules,
               ParsedArgs& parsed, std::string& error);

struct Command {
  std::string_view name;
  // The positional arguments, in order: "FILE ELEMENT ATTR"; a last word
  // ending in "..." stands for one or more.
  std::string_view operands;
  // The problem when operands are missing (default "missing <the first
  // missing word>") and when there are more (default "unexpected argument
  // '<the first one too many>'").
  std::string_view too_few;
  std::string_view too_many;
  std::vector<OptionRule> options;  // in the order the usage line shows them
  std::string_view summary;         // one line for the overview
  std::string_view about;           // the help before the options that have lines of their own
  std::size_t help_column;          // where those options' lines start
  std::string_view notes;           // the help after them: output and exit codes
  int (*run)(const ParsedArgs& args);
};

// Parses |args| for |command| (see ParseArgs), then checks the number of
// operands and the required options, and notes an option given without the
// one it needs (ParsedArgs::unmet_need). False with |problem| set to the
// first thing wrong, for a usage error.
bool ParseCommandLine(const Command& command, const std::vector<std::string>& args,
                      ParsedArgs& parsed, std::string& problem);

// What follows "embpatch <name>" on the usage line: the operands, then each
// option, in brackets when optional, with those that need it inside its own.
std::string Synopsis(const Command& command);

// "usage: embpatch <name> <synopsis>", the text before the options, each
// option that has help lines with them beside it, and the notes.
std::string CommandHelp(const Command& command);

// The tool's usage line, what it is for and one line per command of |commands|.
std::string Overview(std::span<const Command> commands);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_COMMAND_LINE_H_
