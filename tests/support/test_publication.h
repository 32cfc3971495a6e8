// What a patch server serves for a set of files, built in the test without
// a compressor (stored payloads): the configuration document, the CRC list
// and one payload per file, keyed by URL path.
#ifndef EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_
#define EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_

#include <filesystem>
#include <map>
#include <string>

namespace emberfall::test {

struct PublicationSettings {
  std::string crcpatch_url;             // e.g. "http://127.0.0.1:8080/p"
  std::string version = "1";
  std::string run_path = "bin/game.exe";
  std::string config_path = "/new/emb.launcher.config.xml";
};

// URL path ("/p/1/crclist", "/p/1/data/Town%20Hall.pak.lz", ...) -> body,
// for |files| (relative path with "/" separators -> contents).
std::map<std::string, std::string> BuildPublication(const PublicationSettings& settings,
                                                    const std::map<std::string, std::string>& files);

// The configuration document alone.
std::string ConfigDocument(const std::string& crcpatch_url, const std::string& version,
                           const std::string& run_path = "bin/game.exe");

// A CRC-list line for |contents| published as |path| with a payload of
// |packed| bytes.
std::string CrcListLine(const std::string& path, const std::string& contents, long long packed);

// |path| percent-encoded as the launcher requests it, plus ".lz".
std::string PayloadUrlPath(const std::string& path);

// Writes a publication under |web_root| the way a static server maps URL
// paths to files (percent-decoding: the file names are the plain paths).
void WritePublication(const std::filesystem::path& web_root, const PublicationSettings& settings,
                      const std::map<std::string, std::string>& files);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_
