// Signed releases whose document disagrees with its own crclist, which only
// a publisher's mistake makes and the committed vector cannot show: signed
// here on the fly (the Linux build signs).
#include <gtest/gtest.h>

#include "core/crypto.h"
#include "core/fs_path.h"
#include "core/release_document.h"
#include "core/text.h"
#include "tests/support/engine_harness.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"
#include "tools/embpatch/release_signer.h"

namespace emberfall {
namespace {

TEST(SignedPublicationPosixTest, EveryListedFileNeedsItsSignedSizeBeforeAnyDownload) {
  const std::map<std::string, std::string> game = {{"a.bin", "alpha"}, {"data/b.bin", "bravo!"}};
  const struct {
    const char* drop;     // path left out of the document
    std::int64_t b_size;  // size the document signs for data/b.bin
    const char* failure;  // the error text, the server's address left out; empty: it installs
  } cases[] = {
      {"", 6, ""},
      {"a.bin", 6, "File not in signed release | /p/1/crclist.sig | a.bin | not listed"},
      {"", 7, "File not in signed release | /p/1/crclist.sig | data\\b.bin | expected=7 got=6"},
  };
  test::TempDir keys;
  const std::string pem = Utf8Path(keys / "k.pem");
  EcdsaPublicKey key{};
  std::string error;
  ASSERT_TRUE(cli::GenerateSigningKey(pem, key, error)) << error;

  for (const auto& c : cases) {
    SCOPED_TRACE(c.failure);
    test::LoopbackHttpServer server;
    test::Served files = test::BuildPublication(server.UrlUtf8("/p"), game);
    ReleaseDocument document{.serial = 1, .expires = ParseUtcTime("2099-01-01T00:00:00Z").value(),
                             .crclist_sha256 = Sha256Of(files["/p/1/crclist"])};
    for (const auto& [path, contents] : game) {
      const auto size = static_cast<std::int64_t>(contents.size());
      if (path != c.drop) document.files[path] = {Sha256Of(contents), size};
    }
    document.files["data/b.bin"].size = c.b_size;
    const std::string body = FormatReleaseDocument(document);
    EcdsaSignature signature{};
    ASSERT_TRUE(cli::SignWithKeyFile(pem, body, signature, key, error)) << error;
    files["/p/1/crclist.sig"] = body + FormatSignatureLine(signature);
    server.ServeFiles(files);

    test::TempDir folder;
    test::EngineHarness harness(folder.path(), {server.Url("/c.xml")},
                                [&](PatchEngineOptions& o) { o.trustedKeys = {key}; });
    std::string failure = WideToUtf8(harness.RunToEnd().errorText);
    const std::string url = server.UrlUtf8("");
    if (!failure.empty()) failure.erase(failure.find(url), url.size());
    EXPECT_EQ(failure, c.failure);
    // A refused release fetches no payload.
    EXPECT_EQ(server.RequestCount("/p/1/a.bin.lz") > 0, *c.failure == '\0');
    EXPECT_EQ(failure.empty() ? test::ReadFileBytes(folder / "data/b.bin") : "bravo!", "bravo!");
  }
}

}  // namespace
}  // namespace emberfall
