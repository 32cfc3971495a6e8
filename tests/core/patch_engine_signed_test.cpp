// The engine against the committed signed publication, so both builds run it,
// with key_a.pub pinned as EMB_TRUST_KEYS would. The documents that disagree
// with it are committed too, signed by key_c (see tests/data/signing/README);
// a signed hash that differs stands for a payload forged to the listed CRC-32.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "core/crypto.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/patch_engine.h"
#include "core/release_document.h"
#include "core/text.h"
#include "core/trust_state.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

TEST(SignedPublicationTest, OnlyTheGenuineReleaseInstalls) {
  std::string reason;
  const std::optional<ParsedReleaseDocument> genuine = ParseReleaseDocument(
      test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist.sig")), reason);
  ASSERT_TRUE(genuine) << reason;
  const std::string invalid = "Release signature invalid | $U/patch/1.0/crclist.sig | ";
  const std::string unsigned_file = "File not in signed release | $U/patch/1.0/crclist.sig | ";
  const auto serve = [](std::string name) {
    return [name](test::Served& f) {
      f["/patch/1.0/crclist.sig"] = test::ReadFileBytes(test::TestDataPath("signing/" + name));
    };
  };
  const std::string twin = test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist.sig"))
                               .substr(0, genuine->signed_length) +
                           FormatSignatureLine(EcdsaTwin(genuine->signature));
  const std::string elsewhere = "Release for another product or channel | $U/patch/1.0/crclist.sig | "
                                "release is for another product or channel | product emberfall, "
                                "channel live; expected product ";

  struct Attack {
    const char* name;
    const char* key = "key_a";  // "": the build's
    std::function<void(test::Served&)> tamper;
    std::string failure;  // how the error text starts; empty: the run succeeds
    std::uint64_t serial_after = 0;  // in the trust file after the run
    const char* now = "2030-01-01T00:00:00Z";
    std::uint64_t accepted = 0;  // in the trust file before the run; 0: none
    std::string product, channel;  // what the run expects; empty: the build's
  } attacks[] = {
      {.name = "genuine", .key = "", .serial_after = 7},
      {.name = "unsigned", .key = "",
       .tamper = [](auto& f) { f.erase("/patch/1.0/crclist.sig"); }, .failure = invalid},
      {.name = "a file left out of the document", .key = "key_c", .tamper = serve("left_out.sig"),
       .failure = unsigned_file + "empty.dat | not listed"},
      {.name = "a signed size that differs", .key = "key_c", .tamper = serve("size_differs.sig"),
       .failure = unsigned_file + "emb.bin | expected=6 got=5"},
      {.name = "a signed hash that differs", .key = "key_c", .tamper = serve("hash_differs.sig"),
       .failure = "Signed hash mismatch | $U/patch/1.0/emb.bin.lz | expected=933fe539",
       .serial_after = 7},
      {.name = "crclist edited",
       .tamper = [](auto& f) { f["/patch/1.0/crclist"] += "2b219d70 5 29 0 extra.bin\n"; },
       .failure = invalid + "crclist does not match the signed release | expected=8bbb45b6"},
      {.name = "signed by another key", .key = "key_b",
       .failure = invalid + "no trusted key verifies"},
      {.name = "the high-s twin of the signature", .key = "",
       .tamper = [&](auto& f) { f["/patch/1.0/crclist.sig"] = twin; },
       .failure = invalid + "no trusted key verifies"},
      {.name = "another product", .failure = elsewhere + "otherfall, channel live",
       .product = "otherfall"},
      {.name = "another channel", .key = "", .failure = elsewhere + "emberfall, channel beta",
       .channel = "beta"},
      {.name = "expired",
       .failure = "Release expired | $U/patch/1.0/crclist.sig | release signature expired | "
                  "expires 2036-12-04T01:30:12Z",
       .now = "2036-12-04T01:30:12Z"},
      {.name = "replayed older serial",
       .failure = "Release rolled back | $U/patch/1.0/crclist.sig | release is older than one "
                  "already accepted | serial 7, accepted 8",
       .serial_after = 8, .accepted = 8},
      {.name = "a signed file too large",
       .tamper = [](auto& f) { f["/patch/1.0/data/Town%20Hall.pak.lz"].resize(1 << 20); },
       .failure = "Download failed | $U/patch/1.0/data/Town%20Hall.pak.lz | response too large "
                  "(1048576 bytes)",
       .serial_after = 7},
  };

  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.name);
    const test::TempDir game;
    test::WriteFileBytes(game / "emb.bin", "old!!");  // a good file of the installed game
    test::WriteFileBytes(game / "save/slot1.dat", "progress");
    const std::u16string trust_path = WidePath(game.path() / kTrustFileName);
    ASSERT_TRUE(attack.accepted == 0 || SaveAcceptedSerial(trust_path, attack.accepted));

    test::LoopbackHttpServer server;
    const std::string plain = server.UrlUtf8("");
    test::Served files = test::ReadFolder(test::TestDataPath("signing/www"));
    files["/c.xml"] = test::BuildPublication(plain + "/patch", {}, "1.0").at("/c.xml");
    if (attack.tamper) attack.tamper(files);
    server.ServeFiles(files);

    test::EngineHarness harness(game.path(), {server.Url("/c.xml")}, [&](PatchEngineOptions& o) {
      const auto key = [](const char* name) { return ParsePublicKeyText(test::TestKeyHex(name)); };
      // A key that signed nothing changes nothing.
      if (*attack.key) o.trustedKeys = {*key("key_b"), *key(attack.key)};
      o.wallClock = [now = ParseUtcTime(attack.now).value()] { return now; };
      o.product = attack.product;
      o.channel = attack.channel;
    });
    const ProgressState last = harness.RunToEnd();
    std::string error = WideToUtf8(last.errorText);
    if (const size_t at = error.find(plain); at != std::string::npos) {
      error.replace(at, plain.size(), "$U");
    }
    EXPECT_EQ(last.ready, attack.failure.empty()) << error;
    EXPECT_TRUE(error.starts_with(attack.failure)) << error;
    // Each file genuine; after a failure also absent, or the old emb.bin.
    for (const auto& [path, file] : genuine->document.files) {
      const std::string local = fs::exists(game / path) ? test::ReadFileBytes(game / path) : "";
      const std::string before = path == "emb.bin" ? "old!!" : "";
      EXPECT_TRUE(Sha256Of(local) == file.sha256 || (!last.ready && local == before)) << path;
    }
    EXPECT_EQ(test::ReadFileBytes(game / "save/slot1.dat"), "progress");
    EXPECT_EQ(LoadAcceptedSerial(trust_path), attack.serial_after);
    size_t payloads = 0;
    for (const test::RecordedRequest& r : server.Requests()) payloads += r.target.ends_with(".lz");
    // A release refused as a whole fetches no payload.
    EXPECT_EQ(payloads > 0, last.ready || error.find(".lz | ") != std::string::npos);
  }
}

}  // namespace
}  // namespace emberfall
