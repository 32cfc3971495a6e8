// The command handlers of embpatch, one group per source file. Each takes
// the arguments after the command name and returns the exit code.
#ifndef EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_
#define EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_

#include <optional>
#include <string>
#include <vector>

namespace emberfall::cli {

class ParsedArgs;
class SigningKey;
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
// Reads --product and --channel (default: the build's EMB_PRODUCT and
// EMB_CHANNEL). False with |problem| set when one is not a valid name.
bool ParseReleaseTarget(const ParsedArgs& parsed, std::string& product, std::string& channel,
                        std::string& problem);
// Reads --product, --channel, --expires-days and --serial, as publish and
// sign take them. False with |problem| set on a value out of range.
bool ParseSignOptions(const ParsedArgs& parsed, SignSettings& settings, std::string& problem);
// Loads the key of --sign-key, decrypted with the first line of
// --passphrase-file when given. nullopt with |error| set on failure.
std::optional<SigningKey> LoadSignKey(const ParsedArgs& parsed, std::string& error);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_
