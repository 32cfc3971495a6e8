// Signed publications on the operator's side: finding a publication in a web
// root, writing its release document ("crclist.sig") from the payloads it
// serves, and checking a publication as a launcher with pinned keys would.
#ifndef EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNING_H_
#define EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNING_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/crypto.h"

namespace emberfall::cli {

// The path part of an http(s) URL: "http://h:8080/a/b/" gives "a/b";
// nullopt when there is no "://".
std::optional<std::string> UrlPath(const std::string& url);

// The folder of |version| in |web_root|, found through the web root's
// configuration document (new/emb.launcher.config.xml) as publish wrote it.
// False with |error| set when that document is missing or unusable.
bool FindVersionDir(const std::filesystem::path& web_root, const std::string& version,
                    std::filesystem::path& version_dir, std::string& error);

// The highest serial among the release documents anywhere under |web_root|
// (unreadable or malformed ones are skipped); 0 when there are none.
std::uint64_t HighestPublishedSerial(const std::filesystem::path& web_root);

struct SignSettings {
  std::string key_path;                 // PEM private key
  std::int64_t expires_days = 30;       // from now
  std::optional<std::uint64_t> serial;  // default: HighestPublishedSerial + 1
};

// Writes the release document of the publication in |version_dir|: every
// payload its crclist lists is decoded with the launcher's decoder and
// checked against the crclist's size and CRC-32 before its SHA-256 is
// signed; any mismatch refuses the whole signature. The document is written
// through a temporary name. On success |summary| is one line for the
// operator; on failure |error| says why and the old document stays.
bool SignPublication(const std::filesystem::path& web_root,
                     const std::filesystem::path& version_dir, const SignSettings& settings,
                     std::string& summary, std::string& error);

// Checks the publication in |version_dir| offline: the release document
// against |keys| at |now| (seconds since 1970), the crclist against it, and
// every payload decoded against its signed SHA-256 and size. Returns one line
// per problem, none when the publication is sound; |summary| describes the
// signed release when its signature verified.
std::vector<std::string> CheckPublication(const std::filesystem::path& version_dir,
                                          std::span<const EcdsaPublicKey> keys, std::int64_t now,
                                          std::string& summary);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNING_H_
