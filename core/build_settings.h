// Deployment settings chosen when the project is configured (the CMake
// cache: EMB_DEFAULT_PATCH_HOST, EMB_API_HOST, EMB_TRUST_KEYS, EMB_PRODUCT,
// EMB_CHANNEL), as the code reads them. Only this unit reads the generated
// settings, so a launcher for a test server is this unit compiled again with
// other ones.
#ifndef EMBERFALL_CORE_BUILD_SETTINGS_H_
#define EMBERFALL_CORE_BUILD_SETTINGS_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/crypto.h"

namespace emberfall {

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

// What a signed release must be meant for (the EMB_PRODUCT and EMB_CHANNEL
// settings).
std::string BuildProduct();
std::string BuildChannel();

// The launcher's web links (EMB_WEBSITE_URL, EMB_COMMUNITY_URL).
std::string WebsiteUrl();
std::string CommunityUrl();

}  // namespace emberfall

#endif  // EMBERFALL_CORE_BUILD_SETTINGS_H_
