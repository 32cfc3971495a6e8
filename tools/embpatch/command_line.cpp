#include "tools/embpatch/command_line.h"

#include <algorithm>

namespace emberfall::cli {
namespace {

const OptionRule* FindOption(std::span<const OptionRule> rules, std::string_view name) {
  for (const OptionRule& rule : rules) {
    if (rule.name == name) return &rule;
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

bool CheckOperands(const Command& command, const std::vector<std::string>& given,
                   std::string& problem) {
  const std::vector<std::string_view> words = Words(command.operands);
  if (given.size() < words.size()) {
    std::string_view missing = words[given.size()];
    if (missing.ends_with("...")) missing.remove_suffix(3);
    problem = command.too_few.empty() ? "missing " + std::string(missing) : std::string(command.too_few);
    return false;
  }
  const bool open_ended = !words.empty() && words.back().ends_with("...");
  if (!open_ended && given.size() > words.size()) {
    problem = command.too_many.empty() ? "unexpected argument '" + given[words.size()] + "'"
                                       : std::string(command.too_many);
    return false;
  }
  return true;
}

// "--name VALUE", or "--name" for a flag.
std::string OptionWords(const OptionRule& option) {
  std::string words(option.name);
  if (!option.value.empty()) words += " " + std::string(option.value);
  return words;
}

void AppendToSynopsis(std::string& out, const Command& command, const OptionRule& option) {
  if (!out.empty()) out += ' ';
  if (!option.required) out += '[';
  out += OptionWords(option);
  for (const OptionRule& inner : command.options) {
    if (inner.needs == option.name) AppendToSynopsis(out, command, inner);
  }
  if (!option.required) out += ']';
  if (option.repeatable) out += "...";
}

// The options that have help lines: each beside its option, from |column|
// on (a space after an option that reaches it), the later ones below.
std::string OptionList(const Command& command) {
  std::string text;
  for (const OptionRule& option : command.options) {
    if (option.help.empty()) continue;
    std::string line = "  " + OptionWords(option);
    line.resize(std::max(command.help_column, line.size() + 1), ' ');
    std::string_view rest = option.help;
    for (size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
      text += line;
      text.append(rest, 0, end);
      text += '\n';
      line.assign(command.help_column, ' ');
    }
    text += line + std::string(rest) + "\n";
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

bool ParseArgs(const std::vector<std::string>& args, std::span<const OptionRule> rules,
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
    const OptionRule* rule = FindOption(rules, name);
    if (rule == nullptr) {
      error = "unknown option '" + name + "'";
      return false;
    }
    auto& values = parsed.values_[name];
    if (!values.empty() && !rule->repeatable) {
      error = "option '" + name + "' given twice";
      return false;
    }
    if (rule->value.empty()) {
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
      !CheckOperands(command, parsed.positional(), problem)) {
    return false;
  }
  for (const OptionRule& option : command.options) {
    if (option.required && !parsed.Has(option.name)) {
      problem = option.if_missing.empty() ? std::string(option.name) + " is required"
                                          : std::string(option.if_missing);
      return false;
    }
    if (parsed.unmet_need_.empty() && !option.needs.empty() && parsed.Has(option.name) &&
        !parsed.Has(option.needs)) {
      parsed.unmet_need_ = std::string(option.name) + " needs " + std::string(option.needs);
    }
  }
  return true;
}

std::string Synopsis(const Command& command) {
  std::string out(command.operands);
  for (const OptionRule& option : command.options) {
    if (option.needs.empty()) AppendToSynopsis(out, command, option);
  }
  return out;
}

std::string CommandHelp(const Command& command) {
  std::string text = "usage: embpatch " + std::string(command.name);
  if (const std::string synopsis = Synopsis(command); !synopsis.empty()) text += " " + synopsis;
  text += "\n\n";
  text += command.about;
  text += OptionList(command);
  text += command.notes;
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
