#include "tools/embpatch/command_line.h"

#include <algorithm>

namespace emberfall::cli {
namespace {

// Help lines end before this column, as a terminal of 80 shows them whole.
constexpr size_t kHelpWidth = 78;

const OptionSpec* FindOption(std::span<const OptionSpec> specs, std::string_view name) {
  for (const OptionSpec& spec : specs) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

bool CheckOperands(std::string_view operands, const std::vector<std::string>& given,
                   std::string& problem) {
  const std::vector<std::string_view> words = Words(operands);
  if (given.size() < words.size()) {
    std::string_view missing = words[given.size()];
    if (missing.ends_with("...")) missing.remove_suffix(3);
    problem = "missing " + std::string(missing);
    return false;
  }
  const bool open_ended = !words.empty() && words.back().ends_with("...");
  if (!open_ended && given.size() > words.size()) {
    problem = "unexpected argument '" + given[words.size()] + "'";
    return false;
  }
  return true;
}

// "--name VALUE", or "--name" for a flag.
std::string OptionWords(const OptionSpec& option) {
  std::string words(option.name);
  if (!option.value.empty()) words += " " + std::string(option.value);
  return words;
}

void AppendToSynopsis(std::string& out, const Command& command, const OptionSpec& option) {
  if (!out.empty()) out += ' ';
  if (!option.required) out += '[';
  out += OptionWords(option);
  for (const OptionSpec& inner : command.options) {
    if (inner.needs == option.name) AppendToSynopsis(out, command, inner);
  }
  if (!option.required) out += ']';
  if (option.repeatable) out += "...";
}

// Appends |line| and then |words|, which go on lines of their own indented
// to |column| where they would pass kHelpWidth.
void AppendWrapped(std::string& text, std::string line, std::string_view words, size_t column) {
  for (std::string_view word : Words(words)) {
    if (line.size() > column && line.size() + 1 + word.size() > kHelpWidth) {
      text += line + "\n";
      line.assign(column, ' ');
    } else if (line.size() > column) {
      line += ' ';
    }
    line += word;
  }
  text += line + "\n";
}

std::string OptionList(std::span<const OptionSpec> options) {
  size_t column = 0;
  for (const OptionSpec& option : options) column = std::max(column, OptionWords(option).size());
  column += 4;  // two spaces before the option, two at least after it
  std::string text;
  for (const OptionSpec& option : options) {
    std::string line = "  " + OptionWords(option);
    line.resize(column, ' ');
    AppendWrapped(text, std::move(line), option.help, column);
  }
  return text;
}

}  // namespace

std::optional<std::string> ParsedArgs::Value(std::string_view name) const {
  const auto it = values_.find(name);
  if (it == values_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> ParsedArgs::Values(std::string_view name) const {
  const auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

bool ParseArgs(const std::vector<std::string>& args, std::span<const OptionSpec> specs,
               ParsedArgs& parsed, std::string& error) {
  parsed = ParsedArgs();
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      parsed.positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inline_value;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    const OptionSpec* spec = FindOption(specs, name);
    if (spec == nullptr) {
      error = "unknown option '" + name + "'";
      return false;
    }
    auto& values = parsed.values_[name];
    if (!values.empty() && !spec->repeatable) {
      error = "option '" + name + "' given twice";
      return false;
    }
    if (spec->value.empty()) {
      if (inline_value) {
        error = "option '" + name + "' takes no value";
        return false;
      }
      values.push_back("");
    } else if (inline_value) {
      values.push_back(*inline_value);
    } else if (i + 1 < args.size()) {
      values.push_back(args[++i]);
    } else {
      error = "option '" + name + "' needs a value";
      return false;
    }
  }
  return true;
}

bool ParseCommandLine(const Command& command, const std::vector<std::string>& args,
                      ParsedArgs& parsed, std::string& problem) {
  if (!ParseArgs(args, command.options, parsed, problem) ||
      !CheckOperands(command.operands, parsed.positional(), problem)) {
    return false;
  }
  for (const OptionSpec& option : command.options) {
    if (option.required && !parsed.Has(option.name)) {
      problem = std::string(option.name) + " is required";
      return false;
    }
    if (!option.needs.empty() && parsed.Has(option.name) && !parsed.Has(option.needs)) {
      problem = std::string(option.name) + " needs " + std::string(option.needs);
      return false;
    }
  }
  return true;
}

std::string Synopsis(const Command& command) {
  std::string out(command.operands);
  for (const OptionSpec& option : command.options) {
    if (option.needs.empty()) AppendToSynopsis(out, command, option);
  }
  return out;
}

std::string CommandHelp(const Command& command) {
  std::string text = "usage: embpatch " + std::string(command.name);
  if (const std::string synopsis = Synopsis(command); !synopsis.empty()) text += " " + synopsis;
  text += "\n\n";
  text += command.about;
  if (!command.options.empty()) text += "\n" + OptionList(command.options);
  if (!command.notes.empty()) text += "\n" + std::string(command.notes);
  if (!text.ends_with("\n")) text += "\n";
  return text;
}

std::string Overview(std::span<const Command> commands) {
  std::string text =
      "usage: embpatch <command> [arguments]\n"
      "\n"
      "The Emberfall patch tool: a headless patch client, a publisher for patch\n"
      "servers, and diagnostics for what they serve.\n"
      "\n"
      "Commands:\n";
  size_t column = 17;
  for (const Command& command : commands) column = std::max(column, command.name.size() + 4);
  for (const Command& command : commands) {
    std::string line = "  " + std::string(command.name);
    line.resize(column, ' ');
    text += line + std::string(command.summary) + "\n";
  }
  text += "\nRun 'embpatch help <command>' or 'embpatch <command> --help' for details.\n";
  return text;
}

}  // namespace emberfall::cli
