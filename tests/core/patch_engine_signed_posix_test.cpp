// Signed releases whose document disagrees with its own crclist, which only
// a publisher's mistake makes and the committed vector cannot show: signed
// here on the fly (the Linux build signs).
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/crypto.h"
#include "core/fs_path.h"
#include "core/patch_engine.h"
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
    const char* name;
    const char* drop;          // path left out of the document
    std::int64_t b_size;       // size the document signs for data/b.bin
    const char* detail;        // part of the failure; empty: the run succeeds
  } cases[] = {
      {"consistent", "", 6, ""},
      {"a file not listed", "a.bin", 6, "crclist.sig | a.bin | not listed"},
      {"signed size differs", "", 7, "crclist.sig | data\\b.bin | expected=7 got=6"},
  };
  test::TempDir keys;
  EcdsaPublicKey key{};
  std::string error;
  ASSERT_TRUE(cli::GenerateSigningKey(Utf8Path(keys / "k.pem"), key, error)) << error;

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::LoopbackHttpServer server;
    test::PublicationSettings settings;
    settings.crcpatch_url = server.UrlUtf8("/p");
    settings.config_path = "/c.xml";
    std::map<std::string, std::string> files = test::BuildPublication(settings, game);
    ReleaseDocument document;
    document.serial = 1;
    document.expires = ParseUtcTime("2099-01-01T00:00:00Z").value();
    document.crclist_sha256 = Sha256Of(files["/p/1/crclist"]);
    for (const auto& [path, contents] : game) {
      if (path == c.drop) continue;
      document.files[path] = {Sha256Of(contents), static_cast<std::int64_t>(contents.size())};
    }
    document.files["data/b.bin"].size = c.b_size;
    const std::string body = FormatReleaseDocument(document);
    EcdsaSignature signature{};
    ASSERT_TRUE(cli::SignWithKeyFile(Utf8Path(keys / "k.pem"), body, signature, key, error)) << error;
    files["/p/1/crclist.sig"] = body + FormatSignatureLine(signature);
    server.ServeFiles(files);

    test::TempDir folder;
    test::EngineHarness harness(folder, {server.Url("/c.xml")}, {},
                                [&](PatchEngineOptions& o) { o.trustedKeys = {key}; });
    const ProgressState last = harness.RunToEnd();
    const std::string failure = WideToUtf8(last.errorText);
    if (*c.detail == '\0') {
      EXPECT_TRUE(last.ready) << failure;
      EXPECT_EQ(test::ReadFileBytes(folder / "data/b.bin"), "bravo!");
      continue;
    }
    EXPECT_TRUE(failure.starts_with("File not in signed release | ")) << failure;
    EXPECT_NE(failure.find(c.detail), std::string::npos) << failure;
    for (const test::RecordedRequest& request : server.Requests()) {
      EXPECT_FALSE(request.target.ends_with(".lz")) << request.target;
    }
  }
}

}  // namespace
}  // namespace emberfall
