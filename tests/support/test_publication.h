// What a patch server serves, built in the test without a compressor: the
// payloads are stored (an LZO1X stream of one literal run), which the
// launcher decodes like any other, so both builds run the same tests.
#ifndef EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_
#define EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace emberfall::test {

using Served = std::map<std::string, std::string>;  // URL path -> body

// |data| as an MCOZ payload holding one literal run.
std::string StoredPayload(std::string_view data);

std::string ConfigDocument(const std::string& crcpatch_url, const std::string& version,
                           const std::string& run_path = "bin/game.exe");

// A publication of |files| (path with "/" separators -> contents) below
// |crcpatch_url| + "/<version>/", with its configuration document at /c.xml.
Served BuildPublication(const std::string& crcpatch_url,
                        const std::map<std::string, std::string>& files,
                        const std::string& version = "1");

// Every file below |root| at the URL path a static server maps to it.
Served ReadFolder(const std::filesystem::path& root);

// The committed signed publication (testdata/signing/www), its configuration
// document at /c.xml naming |patch_url| and emb.bin to run.
Served SignedPublication(const std::string& patch_url);

// The public key testdata/signing/|name|.pub as hex text.
std::string TestKeyHex(const std::string& name);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_
