#include "core/patch_config.h"

#include "core/environment.h"
#include "core/file_apply.h"
#include "core/file_state_cache.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/verified_hashes.h"
#include "core/xml_reader.h"
#include "emb_build_config.h"

namespace emberfall {
namespace {

constexpr size_t kMaxSafePathUnits = 1024;
constexpr size_t kMissingTagQuoteBytes = 120;
constexpr size_t kOverrideBufferUnits = 2048;

bool IsHttpUrl(std::string_view url) {
  return url.starts_with("http://") || url.starts_with("https://");
}

void AppendSlashIfMissing(std::string& url) {
  if (!url.empty() && url.back() != '/') url.push_back('/');
}

bool IsCrcVersionByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         c == '-' || c == '.' || c == '_';
}

bool IsValidCrcVersion(std::string_view version) {
  if (version.empty() || version == "." || version == "..") return false;
  for (char c : version) {
    if (!IsCrcVersionByte(c)) return false;
  }
  return true;
}

bool IsForbiddenPathUnit(char16_t c) {
  return c < 0x20 || c == 0x7F || c == u'"' || c == u'*' || c == u':' || c == u'<' || c == u'>' ||
         c == u'?' || c == u'|';
}

// Windows opens a device for more spellings than the plain names: spaces
// between the name and its extension are dropped ("CON .txt"), and the
// Latin-1 superscript digits count as digits ("COM\u00B9").
bool OpensADevice(std::u16string_view component) {
  std::u16string name(component.substr(0, component.find(u'.')));
  while (!name.empty() && name.back() == u' ') name.pop_back();
  for (char16_t& c : name) {
    if (c == u'\u00B9') c = u'1';
    if (c == u'\u00B2') c = u'2';
    if (c == u'\u00B3') c = u'3';
  }
  return IsReservedDeviceName(name);
}

bool IsDigitUnit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsHexUnit(char16_t c) { return IsDigitUnit(c) || (c >= u'A' && c <= u'F'); }

// A name of the shape Windows gives a long name as its 8.3 alias: a stem of
// at most eight units ending in "~" and a number, and an extension of at
// most three. Fills |head| (the stem before "~") and |extension|.
bool HasShortNameShape(std::u16string_view key, std::u16string_view& head,
                       std::u16string_view& extension) {
  const size_t dot = key.find(u'.');
  const std::u16string_view stem = key.substr(0, dot);
  extension = dot == std::u16string_view::npos ? std::u16string_view() : key.substr(dot + 1);
  if (stem.size() > 8 || extension.size() > 3 || extension.find(u'.') != std::u16string_view::npos) {
    return false;
  }
  const size_t tilde = stem.rfind(u'~');
  if (tilde == std::u16string_view::npos || tilde + 1 == stem.size()) return false;
  for (char16_t c : stem.substr(tilde + 1)) {
    if (!IsDigitUnit(c)) return false;
  }
  head = stem.substr(0, tilde);
  return true;
}

// Whether Windows may have named |owned_key| with an alias of this head and
// extension: the first three units of its last extension, and up to six
// units of the rest without dots or spaces, or (once the numbered aliases of
// a prefix are taken) its first two units and four hex digits of a hash.
// The number after "~" can be anything, so it is not compared.
bool CanAliasOwnedName(std::u16string_view head, std::u16string_view extension,
                       std::u16string_view owned_key) {
  const size_t dot = owned_key.rfind(u'.');
  if (extension != owned_key.substr(dot + 1, 3)) return false;
  std::u16string base;
  for (char16_t c : owned_key.substr(0, dot)) {
    if (c != u'.' && c != u' ' && base.size() < 6) base.push_back(c);
  }
  if (std::u16string_view(base).starts_with(head)) return true;
  if (head.size() != 6 || head.substr(0, 2) != std::u16string_view(base).substr(0, 2)) return false;
  for (char16_t c : head.substr(2)) {
    if (!IsHexUnit(c)) return false;
  }
  return true;
}

// Where launchers before this one kept the release serial; those files stay
// in game folders that such a launcher updated.
constexpr std::u16string_view kLegacyTrustFileName = u"EmbLauncher.trust";
constexpr std::u16string_view kLegacyTrustTempFileName = u"EmbLauncher.trust.tmp";

// Files the launcher keeps in the game folder itself; a published file of
// the same name would overwrite them, or be replaced by them on every run.
// Their 8.3 aliases ("EMBLAU~1.CAC") name the same files on volumes that
// make short names, so those spellings are refused too; any staged file can
// be the alias of a "*.EMB" short name.
bool IsLauncherOwnedName(std::u16string_view component, bool topLevel) {
  const std::u16string key = PathKey(component);
  std::u16string_view head;
  std::u16string_view extension;
  const bool short_shape = HasShortNameShape(key, head, extension);
  if (topLevel) {
    for (std::u16string_view owned : {kCacheFileName, kCacheTempFileName, kVerifiedHashesFileName,
                                      kVerifiedHashesTempFileName, kLegacyTrustFileName,
                                      kLegacyTrustTempFileName}) {
      const std::u16string owned_key = PathKey(owned);
      if (key == owned_key) return true;
      if (short_shape && CanAliasOwnedName(head, extension, owned_key)) return true;
    }
  }
  const std::u16string staged_key = PathKey(kStagedSuffix);
  if (short_shape && extension == std::u16string_view(staged_key).substr(1, 3)) return true;
  return key.ends_with(staged_key);
}

bool IsSafeComponent(std::u16string_view component, bool topLevel) {
  if (component.empty()) return false;
  if (component == u"." || component == u"..") return false;
  if (component.back() == u'.' || component.back() == u' ') return false;
  for (char16_t c : component) {
    if (IsForbiddenPathUnit(c)) return false;
  }
  return !OpensADevice(component) && !IsLauncherOwnedName(component, topLevel);
}

[[noreturn]] void Fail(PatchErrorCode code, std::u16string detail) {
  throw PatchFailure(code, std::move(detail));
}

}  // namespace

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
  if (!keys) Fail(PatchErrorCode::ReleaseSignatureInvalid, u"malformed pinned key list");
  return std::move(*keys);
}

PatchConfig ParsePatchConfig(std::string_view document) {
  if (document.size() < 15 || document.find("<torrent_config") == std::string_view::npos) {
    Fail(PatchErrorCode::ConfigUnavailable,
         u"torrent config missing <torrent_config>: " +
             Utf8ToWideLenient(document.substr(0, kMissingTagQuoteBytes)));
  }

  PatchConfig config;
  config.run_path = ReadXmlAttribute(document, "torrent_config", "run_path");
  if (config.run_path.empty()) config.run_path = "emb.bin";

  const std::u16string run_path = Utf8ToWideLenient(config.run_path);
  if (!IsSafeRelativePath(run_path, config.run_path_wide)) {
    Fail(PatchErrorCode::ConfigInvalid, u"unsafe run_path: " + run_path);
  }

  config.crcpatch_url = ReadXmlAttribute(document, "foreground_patch", "crcpatch_url");
  AppendSlashIfMissing(config.crcpatch_url);

  config.crcversion = ReadXmlAttribute(document, "foreground_patch", "crcversion");
  if (config.crcversion.empty()) config.crcversion = "0.0.0.0";

  if (config.crcpatch_url.empty()) Fail(PatchErrorCode::PatchUrlMissing, u"");
  if (!IsHttpUrl(config.crcpatch_url)) {
    Fail(PatchErrorCode::ConfigInvalid,
         u"crcpatch_url is not http(s): " + Utf8ToWide(config.crcpatch_url));
  }
  if (!IsValidCrcVersion(config.crcversion)) {
    Fail(PatchErrorCode::ConfigInvalid, u"invalid crcversion: " + Utf8ToWide(config.crcversion));
  }
  return config;
}

void ApplyPatchUrlOverride(PatchConfig& config) {
  const std::optional<std::u16string> value =
      ReadEnvironmentVariable(u"EMBERFALL_PATCH_URL", kOverrideBufferUnits);
  if (!value) return;
  std::string url = WideToUtf8(*value);
  if (!IsHttpUrl(url)) return;
  AppendSlashIfMissing(url);
  config.crcpatch_url = std::move(url);
}

std::u16string MakePatchBaseUrl(const PatchConfig& config) {
  return Utf8ToWide(config.crcpatch_url + config.crcversion + "/");
}

std::vector<std::u16string> MakePatchBaseUrlList(const std::u16string& base_url) {
  std::vector<std::u16string> urls{base_url};
  constexpr std::u16string_view kHttps = u"https://";
  if (base_url.compare(0, kHttps.size(), kHttps) == 0) {
    urls.push_back(u"http://" + base_url.substr(kHttps.size()));
  }
  return urls;
}

bool IsSafeRelativePath(std::u16string_view path, std::u16string& normalised) {
  normalised.clear();
  std::u16string copy(path);
  for (char16_t& c : copy) {
    if (c == u'/') c = u'\\';
  }
  if (copy.empty() || copy.size() > kMaxSafePathUnits) return false;
  if (copy.front() == u'\\') return false;

  size_t start = 0;
  for (;;) {
    const size_t sep = copy.find(u'\\', start);
    const size_t stop = sep == std::u16string::npos ? copy.size() : sep;
    const bool topLevel = start == 0 && sep == std::u16string::npos;
    if (!IsSafeComponent(std::u16string_view(copy).substr(start, stop - start), topLevel)) {
      return false;
    }
    if (sep == std::u16string::npos) break;
    start = sep + 1;
  }
  normalised = std::move(copy);
  return true;
}

bool IsReservedDeviceName(std::u16string_view component) {
  const size_t dot = component.find(u'.');
  std::u16string name(component.substr(0, dot));
  for (char16_t& c : name) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  if (name == u"CON" || name == u"PRN" || name == u"AUX" || name == u"NUL" ||
      name == u"CONIN$" || name == u"CONOUT$") {
    return true;
  }
  return name.size() == 4 && (name.starts_with(u"COM") || name.starts_with(u"LPT")) &&
         name[3] >= u'0' && name[3] <= u'9';
}

}  // namespace emberfall
