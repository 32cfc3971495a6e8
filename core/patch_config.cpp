#include "core/patch_config.h"

#include "core/environment.h"
#include "core/patch_error.h"
#include "core/safe_path.h"
#include "core/text.h"
#include "core/xml_reader.h"

namespace emberfall {
namespace {

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

std::string XmlAttributeEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

[[noreturn]] void Fail(PatchErrorCode code, std::u16string detail) {
  throw PatchFailure(code, std::move(detail));
}

}  // namespace

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

std::string FormatPatchConfig(const PatchConfig& config) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<torrent_config run_path=\"" + XmlAttributeEscape(config.run_path) + "\">\n"
         "  <foreground_patch crcpatch_url=\"" + XmlAttributeEscape(config.crcpatch_url) +
         "\" crcversion=\"" + XmlAttributeEscape(config.crcversion) + "\"/>\n"
         "</torrent_config>\n";
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

}  // namespace emberfall
