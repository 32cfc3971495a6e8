// The engine against the committed signed publication, so both builds run it,
// with key_a.pub pinned as EMB_TRUST_KEYS would. The documents that disagree
// with it are committed too, signed by key_c (see tests/data/signing/README);
// a signed hash that differs stands for a payload forged to the listed CRC-32.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/game_launch.h"
#include "core/crc32.h"
#include "core/crypto.h"
#include "core/file_state.h"
#include "core/fs_path.h"
#include "engine/patch_engine.h"
#include "core/release_document.h"
#include "core/release_state.h"
#include "core/text.h"
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
  // What a player's folder may hold before the run: another Town Hall.pak of
  // the published size and CRC-32, found by hashing or by a record in the
  // cache that claims it.
  const std::string pak = "data/Town Hall.pak";
  const std::string list = test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist"));
  const std::string listed_crc = list.substr(list.find(" 10 ") - 8, 8);  // of the 10-byte pak
  const auto forged = [&](test::TempDir& game) {
    const auto crc = static_cast<std::uint32_t>(std::stoul(listed_crc, nullptr, 16));
    const std::string bytes = test::WithCrc32("forge!", crc);
    ASSERT_EQ(Crc32Buffer(bytes.data(), bytes.size()), crc);
    test::WriteFileBytes(game / pak, bytes);
  };
  const auto cached = [&](test::TempDir& game) {
    test::WriteFileBytes(game / pak, "0123456789");
    const FileState state = *QueryFileState(game.Wide(pak));
    test::WriteFileBytes(game / "EmbLauncher.cache",
                         "EMBVC1\n" + listed_crc + " 10 " + std::to_string(state.lastWriteTime) +
                             " " + std::to_string(state.fileIndex) + " data\\Town Hall.pak\n");
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
    std::uint64_t serial_after = 0;  // in the release record after the run
    const char* now = "2030-01-01T00:00:00Z";
    std::uint64_t accepted = 0;  // in the release record before the run; 0: none
    std::function<void(test::TempDir&)> plant;
    const char* record = nullptr;  // the release record's bytes before the run
    std::string product, channel;  // what the run expects; empty: the build's
    bool launch = false;  // then start the game: as signed, and once rewritten
  } attacks[] = {
      {.name = "genuine", .key = "", .serial_after = 7, .launch = true},
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
      {.name = "a file of the listed size and CRC-32 on disk", .serial_after = 7, .plant = forged},
      {.name = "a cache record that vouches for it", .serial_after = 7, .plant = cached},
      {.name = "a program to start that is not signed",
       .tamper = [](auto& f) { f["/c.xml"].replace(f["/c.xml"].find("emb.bin"), 7, "data/evil.exe"); },
       .failure = unsigned_file + "data\\evil.exe | the program the configuration starts is not a "
                                  "signed file",
       .serial_after = 7},
      {.name = "a damaged release record", .failure = "Release state damaged | $S | serial out of range",
       .record = "EMBTR1\nserial 18446744073709551615\n"},
      {.name = "a signed file too large",
       .tamper = [](auto& f) { f["/patch/1.0/data/Town%20Hall.pak.lz"].resize(1 << 20); },
       .failure = "Download failed | $U/patch/1.0/data/Town%20Hall.pak.lz | response too large "
                  "(1048576 bytes)",
       .serial_after = 7},
  };

  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.name);
    test::TempDir game;
    test::WriteFileBytes(game / "emb.bin", "old!!");  // a good file of the installed game
    test::WriteFileBytes(game / "save/slot1.dat", "progress");
    if (attack.plant) attack.plant(game);

    test::LoopbackHttpServer server;
    const std::string plain = server.UrlUtf8("");
    test::Served files = test::ReadFolder(test::TestDataPath("signing/www"));
    files["/c.xml"] = test::BuildPublication(plain + "/patch", {}, "1.0").at("/c.xml");
    files["/c.xml"].replace(files["/c.xml"].find("bin/game.exe"), 12, "emb.bin");
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
    // Kept outside the game folder: nothing in it rolls the record back.
    const std::unique_ptr<ReleaseStateStore> record = MakeFileReleaseState(WidePath(harness.release_state));
    ASSERT_TRUE(attack.accepted == 0 || record->Save(attack.accepted));
    if (attack.record) test::WriteFileBytes(harness.release_state, attack.record);
    const ProgressState last = harness.RunToEnd();
    std::string error = WideToUtf8(last.errorText);
    const std::pair<std::string, std::string> spellings[] = {{plain, "$U"},
                                                             {Utf8Path(harness.release_state), "$S"}};
    for (const auto& [from, to] : spellings) {
      if (const size_t at = error.find(from); at != std::string::npos) error.replace(at, from.size(), to);
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
    if (!attack.record) {
      EXPECT_EQ(record->Load(), attack.serial_after);
    }
    if (attack.launch) {
      // Each file's hash is on record for the next run (a header and a line a file).
      EXPECT_EQ(std::ranges::count(test::ReadFileBytes(game / "EmbLauncher.hashes"), '\n'), 4);
      // emb.bin is no program: its start is tried and fails, whatever the
      // platform says; a rewritten one is not even tried.
      EXPECT_EQ(harness.engine->LaunchGame(), LaunchResult::kFailed);
      EXPECT_NE(harness.engine->launchError(), kErrorInvalidImageHash);
      test::WriteFileBytes(game / "emb.bin", "evil!");
      EXPECT_EQ(harness.engine->LaunchGame(), LaunchResult::kFailed);
      EXPECT_EQ(harness.engine->launchError(), kErrorInvalidImageHash);
      EXPECT_TRUE(harness.reports.back().starts_with(
          "Game binary differs from the signed release: emb.bin | expected=")) << harness.reports.back();
    }
    size_t payloads = 0;
    for (const test::RecordedRequest& r : server.Requests()) payloads += r.target.ends_with(".lz");
    // A release refused as a whole fetches no payload.
    EXPECT_EQ(payloads > 0, last.ready || error.find(".lz | ") != std::string::npos);
  }
}

}  // namespace
}  // namespace emberfall
