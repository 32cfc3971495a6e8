// Signed publications on the operator's side: finding a publication in a web
// root, writing its release document ("crclist.sig") for the files it must
// carry, and checking a publication as a launcher with pinned keys would.
#ifndef EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNING_H_
#define EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNING_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/crypto.h"
#include "core/release_document.h"

namespace emberfall::cli {

class SigningKey;

// The highest serial the signer writes, 2^53: far below the 2^63 - 1 a
// document may carry, so no run of signings comes near the end of the range,
// and exact in every tool that reads numbers as doubles.
inline constexpr std::uint64_t kMaxSignedSerial = std::uint64_t{1} << 53;

// The path part of an http(s) URL: "http://h:8080/a/b/" gives "a/b";
// nullopt when there is no "://".
std::optional<std::string> UrlPath(const std::string& url);

// The folder of |version| in |web_root|, found through the web root's
// configuration document (new/emb.launcher.config.xml) as publish wrote it.
// False with |error| set when that document is missing or unusable.
bool FindVersionDir(const std::filesystem::path& web_root, const std::string& version,
                    std::filesystem::path& version_dir, std::string& error);

// The highest serial among the release documents anywhere under |web_root|
// that |key| signed; unreadable, malformed and otherwise signed ones do not
// count, so a document planted in the web root cannot move it. 0 when none.
std::uint64_t HighestPublishedSerial(const std::filesystem::path& web_root,
                                     const EcdsaPublicKey& key);

// The files a signature vouches for, by crclist path.
using SourceHashes = std::map<std::string, SignedFile>;

struct SignSettings {
  const SigningKey* key = nullptr;      // must be set
  std::string product;                  // what the release is for
  std::string channel;
  std::int64_t expires_days = 30;       // from now
  std::optional<std::uint64_t> serial;  // default: HighestPublishedSerial + 1
  // What every file must decode to: the source's bytes as hashed by publish,
  // or those of the source folder given to sign. Neither: the previous
  // document of the version, which must verify under the key for this
  // product and channel, and keep every hash.
  const SourceHashes* source_hashes = nullptr;
  std::optional<std::filesystem::path> source_dir;
};

// Writes the release document of the publication in |version_dir|: every
// payload its crclist lists is decoded with the launcher's decoder, checked
// against the crclist's size and CRC-32 and against the file it must be (see
// SignSettings); any mismatch refuses the whole signature. The new document
// is parsed and verified before it is written, through a temporary name.
// On success |summary| holds lines for the operator; on failure |problems|
// holds one line per fault (per file where files are at fault) and the old
// document stays.
bool SignPublication(const std::filesystem::path& web_root,
                     const std::filesystem::path& version_dir, const SignSettings& settings,
                     std::vector<std::string>& summary, std::vector<std::string>& problems);

// Checks the publication in |version_dir| offline: the release document
// against |keys|, |product|, |channel| and |now| (seconds since 1970), the
// crclist against it, and every payload decoded against its signed SHA-256
// and size. Returns one line per problem, none when the publication is
// sound; |summary| describes the signed release when its signature verified.
std::vector<std::string> CheckPublication(const std::filesystem::path& version_dir,
                                          std::span<const EcdsaPublicKey> keys,
                                          std::string_view product, std::string_view channel,
                                          std::int64_t now, std::string& summary);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_RELEASE_SIGNING_H_
