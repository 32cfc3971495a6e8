#include "core/build_settings.h"

#include "core/patch_config.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "emb_build_config.h"

namespace emberfall {

std::array<std::u16string, 2> ConfigUrls() {
  const std::string host = build_config::kDefaultPatchHost;
  const std::string path(kConfigDocumentPath);
  return {Utf8ToWide("https://" + host + path), Utf8ToWide("http://" + host + path)};
}

std::string ErrorReportHost() { return build_config::kApiHost; }

std::optional<std::vector<EcdsaPublicKey>> ParseTrustKeyList(std::string_view text) {
  std::vector<EcdsaPublicKey> keys;
  if (text.empty()) return keys;
  for (;;) {
    const size_t end = text.find_first_of(";,");
    const std::optional<EcdsaPublicKey> key = ParsePublicKeyText(text.substr(0, end));
    if (!key) return std::nullopt;
    keys.push_back(*key);
    if (end == std::string_view::npos) return keys;
    text.remove_prefix(end + 1);
  }
}

std::vector<EcdsaPublicKey> PinnedTrustKeys() {
  std::optional<std::vector<EcdsaPublicKey>> keys = ParseTrustKeyList(build_config::kTrustKeys);
  if (!keys) throw PatchFailure(PatchErrorCode::ReleaseSignatureInvalid, u"malformed pinned key list");
  return std::move(*keys);
}

std::string BuildProduct() { return build_config::kProduct; }
std::string BuildChannel() { return build_config::kChannel; }
std::string WebsiteUrl() { return build_config::kWebsiteUrl; }
std::string CommunityUrl() { return build_config::kCommunityUrl; }

}  // namespace emberfall
