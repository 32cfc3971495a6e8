// embpatch keygen / sign / verify-publication: the release document that
// lets launchers with a pinned key trust a publication end to end.
#include <ctime>
#include <filesystem>

#include "core/crypto.h"
#include "core/fs_path.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"
#include "tools/embpatch/release_signer.h"
#include "tools/embpatch/release_signing.h"

namespace emberfall::cli {
namespace {

namespace fs = std::filesystem;

// Launchers refuse an expired release, so a signature must outlive the
// time to the next publication; ten years bounds an operator's typo.
constexpr std::int64_t kMaxExpiresDays = 3650;

}  // namespace

bool ParseSignOptions(const ParsedArgs& parsed, SignSettings& settings, std::string& problem) {
  settings.key_path = parsed.Value("--sign-key").value_or("");
  if (auto days = parsed.Value("--expires-days")) {
    if (!ParseCount(*days, settings.expires_days) || settings.expires_days < 1 ||
        settings.expires_days > kMaxExpiresDays) {
      problem = "--expires-days must be 1 to " + std::to_string(kMaxExpiresDays);
      return false;
    }
  }
  if (auto serial = parsed.Value("--serial")) {
    std::int64_t value = 0;
    if (!ParseCount(*serial, value) || value < 1) {
      problem = "--serial must be a positive number";
      return false;
    }
    settings.serial = static_cast<std::uint64_t>(value);
  }
  return true;
}

int RunKeygen(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--out", true, false}}, parsed, error)) return UsageError("keygen", error);
  if (!parsed.positional().empty()) return UsageError("keygen", "unexpected argument '" + parsed.positional()[0] + "'");
  const std::optional<std::string> out = parsed.Value("--out");
  if (!out) return UsageError("keygen", "--out is required");
  EcdsaPublicKey public_key;
  if (!GenerateSigningKey(*out, public_key, error)) {
    ErrLine("embpatch keygen: " + error);
    return kExitFailure;
  }
  ErrLine("embpatch keygen: wrote the private key to '" + *out + "'; keep it off the patch server");
  OutLine(FormatPublicKeyText(public_key));
  return kExitOk;
}

int RunSign(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--web-root", true, false},
                  {"--version", true, false},
                  {"--sign-key", true, false},
                  {"--expires-days", true, false},
                  {"--serial", true, false}},
                 parsed, error)) {
    return UsageError("sign", error);
  }
  if (!parsed.positional().empty()) return UsageError("sign", "unexpected argument '" + parsed.positional()[0] + "'");
  for (const char* required : {"--web-root", "--version", "--sign-key"}) {
    if (!parsed.Has(required)) return UsageError("sign", std::string(required) + " is required");
  }
  SignSettings settings;
  if (!ParseSignOptions(parsed, settings, error)) return UsageError("sign", error);
  const fs::path web_root = FsPathFromUtf8(*parsed.Value("--web-root"));
  fs::path version_dir;
  std::string summary;
  if (!FindVersionDir(web_root, *parsed.Value("--version"), version_dir, error) ||
      !SignPublication(web_root, version_dir, settings, summary, error)) {
    ErrLine("embpatch sign: " + error);
    return kExitFailure;
  }
  OutLine(summary);
  return kExitOk;
}

int RunVerifyPublication(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--web-root", true, false}, {"--version", true, false}, {"--trust-key", true, true}},
                 parsed, error)) {
    return UsageError("verify-publication", error);
  }
  if (!parsed.positional().empty()) {
    return UsageError("verify-publication", "unexpected argument '" + parsed.positional()[0] + "'");
  }
  for (const char* required : {"--web-root", "--version", "--trust-key"}) {
    if (!parsed.Has(required)) return UsageError("verify-publication", std::string(required) + " is required");
  }
  std::vector<EcdsaPublicKey> keys;
  for (const std::string& text : parsed.Values("--trust-key")) {
    const std::optional<EcdsaPublicKey> key = ParsePublicKeyText(text);
    if (!key) return UsageError("verify-publication", "--trust-key takes 130 lower-case hex digits starting 04");
    keys.push_back(*key);
  }
  fs::path version_dir;
  if (!FindVersionDir(FsPathFromUtf8(*parsed.Value("--web-root")), *parsed.Value("--version"),
                      version_dir, error)) {
    ErrLine("embpatch verify-publication: " + error);
    return kExitFailure;
  }
  std::string summary;
  const std::vector<std::string> problems =
      CheckPublication(version_dir, keys, static_cast<std::int64_t>(std::time(nullptr)), summary);
  for (const std::string& problem : problems) OutLine(problem);
  if (!problems.empty()) {
    ErrLine("embpatch verify-publication: " + std::to_string(problems.size()) + " problem(s)" +
            (summary.empty() ? std::string() : " in the release of " + summary));
    return kExitFailure;
  }
  OutLine("ok: " + summary);
  return kExitOk;
}

}  // namespace emberfall::cli
