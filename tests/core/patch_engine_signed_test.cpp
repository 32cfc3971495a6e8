// The engine with a pinned key against the committed signed publication, so
// both builds run it: each way of tampering ends in its own failure with no
// good file lost. Documents that disagree with their own crclist, which only
// a publisher's mistake makes, are signed here (only the Linux build signs).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/crc32.h"
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
#include "tools/embpatch/release_signer.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

// |data| with four bytes appended that give the whole the CRC-32 |target|:
// the last four table lookups of a CRC decide its value whatever came
// before, so they are chosen from the target backwards.
std::string ForgeCrc(std::string data, std::uint32_t target) {
  const auto table = [](std::uint32_t c) {
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    return c;
  };
  std::uint32_t want = ~target;
  std::uint8_t index[4];
  for (int k = 3; k >= 0; --k) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      if ((table(i) >> 24) == (want >> 24)) index[k] = static_cast<std::uint8_t>(i);
    }
    want = (want ^ table(index[k])) << 8;
  }
  std::uint32_t reg = ~Crc32Buffer(data.data(), data.size());
  for (const std::uint8_t i : index) {
    data.push_back(static_cast<char>((reg ^ i) & 0xFF));
    reg = (reg >> 8) ^ table(i);
  }
  return data;
}

EcdsaPublicKey Key(const std::string& name) {
  return ParsePublicKeyText(test::TestKeyHex(name)).value();
}

TEST(SignedPublicationTest, OnlyTheGenuineReleaseInstalls) {
  std::string reason;
  const std::optional<ParsedReleaseDocument> genuine = ParseReleaseDocument(
      test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist.sig")), reason);
  ASSERT_TRUE(genuine) << reason;
  const std::string forged = ForgeCrc("X", 0x2b219d70);  // emb.bin's CRC-32 and size
  using Served = test::Served;
  const auto forge = [&](Served& f, auto&) {
    f["/patch/1.0/emb.bin.lz"] = test::StoredPayload(forged);
  };
  const std::string invalid = "Release signature invalid | $U/patch/1.0/crclist.sig | ";
  const std::string hash = "Signed hash mismatch | $U/patch/1.0/emb.bin.lz | expected=923fe539";
  const std::string unsigned_file = "File not in signed release | $U/patch/1.0/crclist.sig | ";
  test::TempDir keys;
  const std::string pem = Utf8Path(keys / "own.pem");
  EcdsaPublicKey own{};
  std::string error;
  const bool can_sign = cli::GenerateSigningKey(pem, own, error);
  ASSERT_TRUE(can_sign || test::IsWindowsBuild()) << error;
  const auto resign = [&](const char* path, std::int64_t size) {  // size < 0: path left out
    return [&, path, size](Served& f, auto&) {
      ReleaseDocument document = genuine->document;
      if (size < 0) document.files.erase(path);
      if (size >= 0) document.files[path].size = size;
      const std::string body = FormatReleaseDocument(document);
      EcdsaSignature signature{};
      ASSERT_TRUE(cli::SignWithKeyFile(pem, body, signature, own, error)) << error;
      f["/patch/1.0/crclist.sig"] = body + FormatSignatureLine(signature);
    };
  };

  struct Attack {
    const char* name;
    std::function<void(Served&, test::LoopbackHttpServer&)> tamper;
    std::string failure;  // how the error text starts; empty: the run succeeds
    std::uint64_t serial_after = 0;  // in the trust file after the run
    const char* key = "key_a";  // "own": the key made above
    const char* now = "2030-01-01T00:00:00Z";
    std::uint64_t accepted = 0;  // in the trust file before the run; 0: none
    // The configuration and the patch base are https URLs of a port that
    // speaks only plain HTTP, so TLS fails and the client falls back to http,
    // where the tampering server answers as a man in the middle would.
    bool tls_refused = false;
  } attacks[] = {
      {.name = "genuine", .serial_after = 7},
      {.name = "re-signed as it is", .tamper = resign("emb.bin", 5), .serial_after = 7,
       .key = "own"},
      {.name = "a file left out of the document", .tamper = resign("empty.dat", -1),
       .failure = unsigned_file + "empty.dat | not listed", .key = "own"},
      {.name = "a signed size that differs", .tamper = resign("emb.bin", 6),
       .failure = unsigned_file + "emb.bin | expected=6 got=5", .key = "own"},
      {.name = "same CRC-32 and size", .tamper = forge, .failure = hash, .serial_after = 7},
      {.name = "https refused, a forged payload over the http fallback", .tamper = forge,
       .failure = hash, .serial_after = 7, .tls_refused = true},
      {.name = "crclist edited",
       .tamper = [](Served& f, auto&) { f["/patch/1.0/crclist"] += "2b219d70 5 29 0 extra.bin\n"; },
       .failure = invalid + "crclist does not match the signed release | expected=8bbb45b6"},
      {.name = "crclist.sig truncated",
       .tamper = [](Served& f, auto&) { f["/patch/1.0/crclist.sig"].resize(200); },
       .failure = invalid + "release document missing or malformed"},
      {.name = "signed by another key", .failure = invalid + "no trusted key verifies",
       .key = "key_b"},
      {.name = "a flipped bit",
       .tamper = [](Served& f, auto&) { f["/patch/1.0/crclist.sig"][15] ^= 1; },
       .failure = invalid + "no trusted key verifies"},
      {.name = "expired",
       .failure = "Release expired | $U/patch/1.0/crclist.sig | release signature expired | "
                  "expires 2036-12-04T01:30:12Z",
       .now = "2036-12-04T01:30:12Z"},
      {.name = "replayed older serial",
       .failure = "Release rolled back | $U/patch/1.0/crclist.sig | release is older than one "
                  "already accepted | serial 7, accepted 8",
       .serial_after = 8, .accepted = 8},
      {.name = "endless body for a signed file",
       .tamper =
           [](Served& f, test::LoopbackHttpServer& server) {
             f.erase("/patch/1.0/data/Town%20Hall.pak.lz");
             server.Serve("/patch/1.0/data/Town%20Hall.pak.lz",
                          test::Response::WithoutLength(std::string(1 << 20, 'z')));
           },
       .failure = "Download failed | $U/patch/1.0/data/Town%20Hall.pak.lz | response too large "
                  "(> 97 bytes)",
       .serial_after = 7},
  };

  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.name);
    const bool own_key = attack.key == std::string("own");
    if (own_key && !can_sign) continue;
    test::TempDir root;
    const fs::path game = root.path();
    test::WriteFileBytes(game / "emb.bin", "old!!");  // a good file of the installed game
    test::WriteFileBytes(game / "save/slot1.dat", "progress");
    const std::u16string trust_path = WidePath(game / fs::path(std::u16string(kTrustFileName)));
    ASSERT_TRUE(attack.accepted == 0 || SaveAcceptedSerial(trust_path, attack.accepted));

    test::LoopbackHttpServer server;
    const std::string plain = server.UrlUtf8("");
    const std::string base = attack.tls_refused ? "https" + plain.substr(4) : plain;
    std::vector<std::u16string> config_urls = {Utf8ToWide(base + "/c.xml")};
    if (attack.tls_refused) config_urls.push_back(server.Url("/c.xml"));
    Served files = test::SignedPublication(base + "/patch");
    if (attack.tamper) attack.tamper(files, server);
    server.ServeFiles(files);

    test::EngineHarness harness(game, config_urls, [&](PatchEngineOptions& o) {
      o.trustedKeys = {own_key ? own : Key(attack.key)};
      if (attack.key == std::string("key_a")) {
        o.trustedKeys.insert(o.trustedKeys.begin(), Key("key_b"));  // a second key changes nothing
      }
      o.wallClock = [now = ParseUtcTime(attack.now).value()] { return now; };
    });
    const ProgressState last = harness.RunToEnd();
    error = WideToUtf8(last.errorText);
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
