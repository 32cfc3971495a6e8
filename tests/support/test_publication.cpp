#include "tests/support/test_publication.h"

#include <cctype>
#include <cstdio>

#include "core/crc32.h"
#include "core/fs_path.h"
#include "tests/support/stored_payload.h"
#include "tests/support/test_support.h"

namespace emberfall::test {
namespace {

// The path part of |url| without a trailing slash: "http://h:1/p/" -> "/p".
std::string UrlPathOf(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  std::string path = slash == std::string::npos ? "" : url.substr(slash);
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ConfigDocument(const std::string& crcpatch_url, const std::string& version,
                           const std::string& run_path) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<torrent_config run_path=\"" + run_path +
         "\">\n  <foreground_patch crcpatch_url=\"" + crcpatch_url + "\" crcversion=\"" + version +
         "\"/>\n</torrent_config>\n";
}

std::string CrcListLine(const std::string& path, const std::string& contents, long long packed) {
  char prefix[80];
  std::snprintf(prefix, sizeof(prefix), "%08x %zu %lld 0 ",
                Crc32Buffer(contents.data(), contents.size()), contents.size(), packed);
  return prefix + path + "\n";
}

std::string PayloadUrlPath(const std::string& path) {
  std::string encoded;
  for (const unsigned char c : path + ".lz") {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
      encoded.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%%%02X", c);
      encoded += hex;
    }
  }
  return encoded;
}

namespace {

// Every file of a publication: its URL path, its path below the web root
// (what a static server maps the URL to) and its body.
template <typename Sink>
void ForEachPublished(const PublicationSettings& settings,
                      const std::map<std::string, std::string>& files, Sink sink) {
  const std::string base = UrlPathOf(settings.crcpatch_url) + "/" + settings.version + "/";
  std::string list = "# test publication\n";
  for (const auto& [path, contents] : files) {
    const std::string payload = StoredPayload(contents);
    list += CrcListLine(path, contents, static_cast<long long>(payload.size()));
    sink(base + PayloadUrlPath(path), base + path + ".lz", payload);
  }
  sink(base + "crclist", base + "crclist", list);
  sink(settings.config_path, settings.config_path,
       ConfigDocument(settings.crcpatch_url, settings.version, settings.run_path));
}

}  // namespace

std::map<std::string, std::string> BuildPublication(const PublicationSettings& settings,
                                                    const std::map<std::string, std::string>& files) {
  std::map<std::string, std::string> served;
  ForEachPublished(settings, files,
                   [&](const std::string& url_path, const std::string&, const std::string& body) {
                     served[url_path] = body;
                   });
  return served;
}

void WritePublication(const std::filesystem::path& web_root, const PublicationSettings& settings,
                      const std::map<std::string, std::string>& files) {
  ForEachPublished(settings, files,
                   [&](const std::string&, const std::string& file_path, const std::string& body) {
                     WriteFileBytes(web_root / FsPathFromUtf8(file_path.substr(1)), body);
                   });
}

}  // namespace emberfall::test
