// The patch configuration document: where the published files of the current
// patch live and which executable starts the game. Also the safe relative
// path rule that every path taken from the network must pass.
#ifndef EMBERFALL_CORE_PATCH_CONFIG_H_
#define EMBERFALL_CORE_PATCH_CONFIG_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/crypto.h"

namespace emberfall {

// The parsed configuration. Field names follow the document's attributes.
struct PatchConfig {
  std::string run_path;          // UTF-8, as read (default "emb.bin")
  std::u16string run_path_wide;  // run_path normalised with "\" separators
  std::string crcpatch_url;      // http(s) base, always ending in "/"
  std::string crcversion;        // one path segment (default "0.0.0.0")
};

// The built-in configuration URLs, https first, then http, both on the
// default patch host of the build.
std::array<std::u16string, 2> ConfigUrls();

// The host that receives error reports (the EMB_API_HOST setting). It lives
// here so that a build for a loopback patch server reports there too.
std::string ErrorReportHost();

// Parses a list of public keys in the text form of FormatPublicKeyText,
// separated by ";" or ",". An empty text gives an empty list; any malformed
// or empty element gives nullopt.
std::optional<std::vector<EcdsaPublicKey>> ParseTrustKeyList(std::string_view text);

// The release signing keys the build pins (the EMB_TRUST_KEYS setting);
// empty when it pins none. Throws PatchFailure 13 if the setting is
// malformed, which the configuration step refuses, so that such a build
// fails closed rather than accepting unsigned releases.
std::vector<EcdsaPublicKey> PinnedTrustKeys();

// The path the configuration document is published at on any patch server.
inline constexpr std::string_view kConfigDocumentPath = "/new/emb.launcher.config.xml";

// Parses and validates |document| (UTF-8 XML). Throws PatchFailure with code
// 0, 4 or 11 and the English detail of the first check that fails.
PatchConfig ParsePatchConfig(std::string_view document);

// Replaces crcpatch_url with EMBERFALL_PATCH_URL when that variable holds an
// http(s) URL of 1 to 2047 units. Anything else is ignored silently.
void ApplyPatchUrlOverride(PatchConfig& config);

// crcpatch_url + crcversion + "/", as UTF-16.
std::u16string MakePatchBaseUrl(const PatchConfig& config);

// The base URLs a run tries in order: |base_url|, then, when it is https, the
// same location over http.
std::vector<std::u16string> MakePatchBaseUrlList(const std::u16string& base_url);

// True when |path| is a safe path relative to the game folder: 1 to 1024
// units, not rooted, no empty, "." or ".." component, no component ending in
// "." or space, no C0 control character or DEL (the release document
// refuses the same bytes) or any of "*:<>?|, no component that
// Windows opens as a device (a reserved device name, also with spaces before
// its extension or a superscript digit 1-3 for the COM/LPT number), and no
// name of the launcher's own files: the cache, the hash record, an old trust file and their
// temporary files at the top of the game folder, a staged ".emb-new" file
// anywhere (case ignored as in path keys), nor an 8.3 short name ("NAME~N.EXT")
// that Windows may have given one of those. On success |normalised| holds the
// path with "\" separators; on failure it is empty.
bool IsSafeRelativePath(std::u16string_view path, std::u16string& normalised);

// True when the part of |component| before its first "." names a DOS device
// (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9), ASCII case ignored.
bool IsReservedDeviceName(std::u16string_view component);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_PATCH_CONFIG_H_
