// The command handlers of embpatch, one group per source file. Each takes
// its command line, already checked against its table in commands.cpp
// (operands, required options), and returns the exit code.
#ifndef EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_
#define EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_

#include <optional>
#include <string>
#include <vector>

#include "core/crypto.h"

namespace emberfall::cli {

class ParsedArgs;
class SigningKey;
struct SignSettings;

// cmd_fetch.cpp
int RunFetch(const ParsedArgs& args);

// cmd_files.cpp
int RunCrc32(const ParsedArgs& args);
int RunUnpack(const ParsedArgs& args);

// cmd_lint.cpp
int RunXmlAttr(const ParsedArgs& args);
int RunParseConfig(const ParsedArgs& args);
int RunParseCrcList(const ParsedArgs& args);

// cmd_run.cpp
int RunPatchRun(const ParsedArgs& args);

// cmd_publish.cpp
int RunPublish(const ParsedArgs& args);
int RunPack(const ParsedArgs& args);

// cmd_update_cost.cpp
int RunUpdateCost(const ParsedArgs& args);

// cmd_sign.cpp
int RunKeygen(const ParsedArgs& args);
int RunSign(const ParsedArgs& args);
int RunVerifyPublication(const ParsedArgs& args);
// Reads --product and --channel (default: the build's EMB_PRODUCT and
// EMB_CHANNEL). False with |problem| set when one is not a valid name.
bool ParseReleaseTarget(const ParsedArgs& parsed, std::string& product, std::string& channel,
                        std::string& problem);
// Appends the public keys of every --trust-key to |keys|. False with
// |problem| set when one is not a key in the form keygen prints.
bool ParseTrustKeys(const ParsedArgs& parsed, std::vector<EcdsaPublicKey>& keys,
                    std::string& problem);
// Reads --product, --channel, --expires-days and --serial, as publish and
// sign take them. False with |problem| set on a value out of range.
bool ParseSignOptions(const ParsedArgs& parsed, SignSettings& settings, std::string& problem);
// Loads the key of --sign-key, decrypted with the first line of
// --passphrase-file when given. nullopt with |error| set on failure.
std::optional<SigningKey> LoadSignKey(const ParsedArgs& parsed, std::string& error);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_COMMANDS_H_
