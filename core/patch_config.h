// The patch configuration document: where the published files of the current
// patch live and which executable starts the game.
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

// The path the configuration document is published at on any patch server.
inline constexpr std::string_view kConfigDocumentPath = "/new/emb.launcher.config.xml";

// Parses and validates |document| (UTF-8 XML). Throws PatchFailure with code
// 0, 4 or 11 and the English detail of the first check that fails.
PatchConfig ParsePatchConfig(std::string_view document);

// The document a patch server publishes for |config|'s run_path,
// crcpatch_url and crcversion (UTF-8, attribute values escaped).
// ParsePatchConfig reads the same values back, crcpatch_url with the "/"
// it adds.
std::string FormatPatchConfig(const PatchConfig& config);

// Replaces crcpatch_url with EMBERFALL_PATCH_URL when that variable holds an
// http(s) URL of 1 to 2047 units. Anything else is ignored silently.
void ApplyPatchUrlOverride(PatchConfig& config);

// crcpatch_url + crcversion + "/", as UTF-16.
std::u16string MakePatchBaseUrl(const PatchConfig& config);

// The base URLs a run tries in order: |base_url|, then, when it is https, the
// same location over http.
std::vector<std::u16string> MakePatchBaseUrlList(const std::u16string& base_url);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_PATCH_CONFIG_H_
