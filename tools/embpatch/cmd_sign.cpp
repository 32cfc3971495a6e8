// embpatch keygen / sign / verify-publication: the release document that
// lets launchers with a pinned key trust a publication's files.
#include <algorithm>
#include <ctime>
#include <filesystem>

#include "core/crypto.h"
#include "core/fs_path.h"
#include "core/release_document.h"
#include "core/build_settings.h"
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

// The first line of --passphrase-file, without its line end; nullopt
// without the option. False with |error| set when it is unreadable or empty.
bool ReadPassphrase(const ParsedArgs& parsed, std::optional<std::string>& passphrase,
                    std::string& error) {
  const std::optional<std::string> path = parsed.Value("--passphrase-file");
  if (!path) return true;
  std::string text;
  if (!ReadWholeFile(*path, text, error)) return false;
  text.resize(std::min(text.find('\n'), text.size()));
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (text.empty()) {
    error = "the passphrase file '" + *path + "' has an empty first line";
    return false;
  }
  passphrase = std::move(text);
  return true;
}

}  // namespace

bool ParseReleaseTarget(const ParsedArgs& parsed, std::string& product, std::string& channel,
                        std::string& problem) {
  product = parsed.Value("--product").value_or(BuildProduct());
  channel = parsed.Value("--channel").value_or(BuildChannel());
  if (!IsValidReleaseName(product) || !IsValidReleaseName(channel)) {
    problem = "--product and --channel take 1 to 64 of a-z, 0-9, '.', '_', '-', the first a letter or digit";
    return false;
  }
  return true;
}

bool ParseTrustKeys(const ParsedArgs& parsed, std::vector<EcdsaPublicKey>& keys,
                    std::string& problem) {
  for (const std::string& text : parsed.Values("--trust-key")) {
    const std::optional<EcdsaPublicKey> key = ParsePublicKeyText(text);
    if (!key) {
      problem = "--trust-key takes 130 lower-case hex digits starting 04";
      return false;
    }
    keys.push_back(*key);
  }
  return true;
}

bool ParseSignOptions(const ParsedArgs& parsed, SignSettings& settings, std::string& problem) {
  if (!ParseReleaseTarget(parsed, settings.product, settings.channel, problem)) return false;
  if (auto days = parsed.Value("--expires-days")) {
    if (!ParseCount(*days, settings.expires_days) || settings.expires_days < 1 ||
        settings.expires_days > kMaxExpiresDays) {
      problem = "--expires-days must be 1 to " + std::to_string(kMaxExpiresDays);
      return false;
    }
  }
  if (auto serial = parsed.Value("--serial")) {
    std::int64_t value = 0;
    if (!ParseCount(*serial, value) || value < 1 || static_cast<std::uint64_t>(value) > kMaxSignedSerial) {
      problem = "--serial must be 1 to 2^53 (" + std::to_string(kMaxSignedSerial) + ")";
      return false;
    }
    settings.serial = static_cast<std::uint64_t>(value);
  }
  return true;
}

std::optional<SigningKey> LoadSignKey(const ParsedArgs& parsed, std::string& error) {
  std::optional<std::string> passphrase;
  if (!ReadPassphrase(parsed, passphrase, error)) return std::nullopt;
  return SigningKey::Load(parsed.Value("--sign-key").value_or(""), passphrase, error);
}

int RunKeygen(const ParsedArgs& parsed) {
  const std::string out = *parsed.Value("--out");
  std::string error;
  std::optional<std::string> passphrase;
  EcdsaPublicKey public_key;
  if (!ReadPassphrase(parsed, passphrase, error) ||
      !GenerateSigningKey(out, passphrase, public_key, error)) {
    ErrLine("embpatch keygen: " + error);
    return kExitFailure;
  }
  ErrLine("embpatch keygen: wrote the private key to '" + out + "'" +
          (passphrase ? ", encrypted" : "") + "; keep it off the patch server");
  OutLine(FormatPublicKeyText(public_key));
  return kExitOk;
}

int RunSign(const ParsedArgs& parsed) {
  std::string error;
  SignSettings settings;
  if (!ParseSignOptions(parsed, settings, error)) return UsageError("sign", error);
  if (const std::optional<std::string> from = parsed.Value("--from")) {
    settings.source_dir = FsPathFromUtf8(*from);
  }
  const std::optional<SigningKey> key = LoadSignKey(parsed, error);
  const fs::path web_root = FsPathFromUtf8(*parsed.Value("--web-root"));
  fs::path version_dir;
  if (!key || !FindVersionDir(web_root, *parsed.Value("--version"), version_dir, error)) {
    ErrLine("embpatch sign: " + error);
    return kExitFailure;
  }
  settings.key = &*key;
  std::vector<std::string> summary, problems;
  if (!SignPublication(web_root, version_dir, settings, summary, problems)) {
    for (const std::string& problem : problems) ErrLine("embpatch sign: " + problem);
    return kExitFailure;
  }
  for (const std::string& line : summary) OutLine(line);
  return kExitOk;
}

int RunVerifyPublication(const ParsedArgs& parsed) {
  std::string error;
  std::vector<EcdsaPublicKey> keys;
  std::string product, channel;
  if (!ParseTrustKeys(parsed, keys, error) || !ParseReleaseTarget(parsed, product, channel, error)) {
    return UsageError("verify-publication", error);
  }
  fs::path version_dir;
  if (!FindVersionDir(FsPathFromUtf8(*parsed.Value("--web-root")), *parsed.Value("--version"),
                      version_dir, error)) {
    ErrLine("embpatch verify-publication: " + error);
    return kExitFailure;
  }
  std::string summary;
  const std::vector<std::string> problems = CheckPublication(
      version_dir, keys, product, channel, static_cast<std::int64_t>(std::time(nullptr)), summary);
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
