// The command handlers of embpatch, one group per source file. Each takes
// the arguments after the command name and returns the exit code.
#ifndef EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_
#define EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_

#include <string>
#include <vector>

namespace emberfall::cli {

class ParsedArgs;
struct SignSettings;

// cmd_fetch.cpp
int RunFetch(const std::vector<std::string>& args);

// cmd_files.cpp
int RunCrc32(const std::vector<std::string>& args);
int RunUnpack(const std::vector<std::string>& args);

// cmd_lint.cpp
int RunXmlAttr(const std::vector<std::string>& args);
int RunParseConfig(const std::vector<std::string>& args);
int RunParseCrcList(const std::vector<std::string>& args);

// cmd_run.cpp
int RunPatchRun(const std::vector<std::string>& args);

// cmd_publish.cpp
int RunPublish(const std::vector<std::string>& args);
int RunPack(const std::vector<std::string>& args);

// cmd_sign.cpp
int RunKeygen(const std::vector<std::string>& args);
int RunSign(const std::vector<std::string>& args);
int RunVerifyPublication(const std::vector<std::string>& args);
// Reads --sign-key, --expires-days and --serial, as publish and sign take
// them. False with |problem| set on a value out of range.
bool ParseSignOptions(const ParsedArgs& parsed, SignSettings& settings, std::string& problem);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_
