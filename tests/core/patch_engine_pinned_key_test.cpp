// The engine's default keys: this executable carries the configuration code
// of a build configured with tests/data/signing/key_a.pub pinned, as the
// launcher gets its keys, and gives the engine no keys of its own.
#include <gtest/gtest.h>

#include <string>

#include "core/patch_engine.h"
#include "core/release_document.h"
#include "core/text.h"
#include "tests/support/engine_harness.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(PinnedKeyTest, ABuildWithAKeyInstallsOnlyWhatItSigned) {
  for (const bool with_signature : {true, false}) {
    SCOPED_TRACE(with_signature);
    test::LoopbackHttpServer server;
    test::Served files = test::ReadFolder(test::TestDataPath("signing/www"));
    files["/c.xml"] = test::ConfigDocument(server.UrlUtf8("/patch"), "1.0", "emb.bin");
    if (!with_signature) files.erase("/patch/1.0/crclist.sig");
    server.ServeFiles(files);

    test::TempDir game;
    test::EngineHarness harness(game.path(), {server.Url("/c.xml")}, [](PatchEngineOptions& o) {
      o.wallClock = [] { return ParseUtcTime("2030-01-01T00:00:00Z").value(); };
    });
    const ProgressState last = harness.RunToEnd();
    EXPECT_EQ(last.ready, with_signature) << WideToUtf8(last.errorText);
    EXPECT_EQ(std::filesystem::exists(game / "emb.bin"), with_signature);
    EXPECT_EQ(WideToUtf8(last.errorText).starts_with("Release signature invalid | "),
              !with_signature);
  }
}

}  // namespace
}  // namespace emberfall
