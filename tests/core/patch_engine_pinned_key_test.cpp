// The engine's default keys: this executable carries the configuration code
// of a build with tests/data/signing/key_a.pub pinned, and gives the engine
// no keys of its own.
#include <gtest/gtest.h>

#include "core/release_document.h"
#include "core/text.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(PinnedKeyTest, ABuildWithAKeyInstallsOnlyWhatItSigned) {
  for (const bool with_signature : {true, false}) {
    SCOPED_TRACE(with_signature);
    test::LoopbackHttpServer server;
    test::Served files = test::SignedPublication(server.UrlUtf8("/patch"));
    if (!with_signature) files.erase("/patch/1.0/crclist.sig");
    server.ServeFiles(files);
    test::TempDir game;
    test::EngineHarness harness(game.path(), {server.Url("/c.xml")}, [](PatchEngineOptions& o) {
      o.wallClock = [] { return ParseUtcTime("2030-01-01T00:00:00Z").value(); };
    });
    const std::string error = WideToUtf8(harness.RunToEnd().errorText);
    EXPECT_EQ(error.starts_with("Release signature invalid | "), !with_signature) << error;
    EXPECT_EQ(std::filesystem::exists(game / "emb.bin"), with_signature);
  }
}

}  // namespace
}  // namespace emberfall
