// The patch engine with a pinned key against a signed publication on the
// loopback server (the committed vector in tests/data/signing, so both
// builds run it): the genuine release installs, and each way of tampering
// with it ends in its own failure with no good file lost and nothing outside
// the game folder touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/crc32.h"
#include "core/crypto.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/patch_engine.h"
#include "core/release_document.h"
#include "core/text.h"
#include "core/trust_state.h"
#include "tests/support/engine_harness.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/stored_payload.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // URL path -> body

constexpr std::string_view kVersionDir = "signing/www/patch/1.0/";
// File name in the vector -> URL path on the server.
const std::pair<const char*, const char*> kPublished[] = {
    {"crclist", "/patch/1.0/crclist"},
    {"crclist.sig", "/patch/1.0/crclist.sig"},
    {"emb.bin.lz", "/patch/1.0/emb.bin.lz"},
    {"empty.dat.lz", "/patch/1.0/empty.dat.lz"},
    {"data/Town Hall.pak.lz", "/patch/1.0/data/Town%20Hall.pak.lz"},
};

// |data| with four bytes appended that give the whole the CRC-32 |target|:
// the last four table lookups of a CRC decide its value whatever came
// before, so they are chosen from the target backwards.
std::string ForgeCrc(std::string data, std::uint32_t target) {
  std::uint32_t table[256];
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  std::uint32_t want = ~target;
  std::uint8_t index[4];
  for (int k = 3; k >= 0; --k) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      if ((table[i] >> 24) == (want >> 24)) index[k] = static_cast<std::uint8_t>(i);
    }
    want = (want ^ table[index[k]]) << 8;
  }
  std::uint32_t reg = ~Crc32Buffer(data.data(), data.size());
  for (std::uint8_t i : index) {
    data.push_back(static_cast<char>((reg ^ i) & 0xFF));
    reg = (reg >> 8) ^ table[i];
  }
  return data;
}

std::int64_t Utc(std::string_view text) { return ParseUtcTime(text).value(); }

EcdsaPublicKey Key(const char* name) {
  const std::string text = test::ReadFileBytes(test::TestDataPath(name));
  return ParsePublicKeyText(text.substr(0, 130)).value();
}

struct Attack {
  const char* name;
  std::function<void(Files&, test::LoopbackHttpServer&)> tamper;
  const char* key = "signing/key_a.pub";
  std::int64_t now = Utc("2030-01-01T00:00:00Z");
  std::uint64_t accepted = 0;  // serial in the trust file before the run; 0: none
  std::uint32_t code = 0;      // expected failure; 0: the run succeeds
  const char* detail = "";     // part of the failure message
  std::uint64_t serial_after = 0;
  // The configuration and the patch base are https URLs of a port that
  // speaks only plain HTTP, so TLS fails and the client falls back to http,
  // where the tampering server answers as a man in the middle would.
  bool tls_refused = false;
};

TEST(SignedPublicationTest, OnlyTheGenuineReleaseInstalls) {
  const std::string sig = test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist.sig"));
  std::string reason;
  const std::optional<ParsedReleaseDocument> signed_doc = ParseReleaseDocument(sig, reason);
  ASSERT_TRUE(signed_doc) << reason;
  const std::string forged = ForgeCrc("X", 0x2b219d70);  // emb.bin's CRC-32 and size
  ASSERT_EQ(Crc32Buffer(forged.data(), forged.size()), 0x2b219d70u);
  ASSERT_EQ(forged.size(), 5u);

  const Attack attacks[] = {
      {"genuine", nullptr, "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 3, 0, "", 7},
      {"payload with the same CRC-32 and size",
       [&](Files& f, test::LoopbackHttpServer&) { f["/patch/1.0/emb.bin.lz"] = test::StoredPayload(forged); },
       "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 0, 16,
       "Signed hash mismatch | http://", 7},
      {"https refused, a changed payload over the http fallback",
       [&](Files& f, test::LoopbackHttpServer&) { f["/patch/1.0/emb.bin.lz"] = test::StoredPayload(forged); },
       "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 0, 16,
       "Signed hash mismatch | http://", 7, true},
      {"crclist edited",
       [](Files& f, test::LoopbackHttpServer&) {
         f["/patch/1.0/crclist"] += "2b219d70 5 29 0 extra.bin\n";
       },
       "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 0, 13,
       "crclist does not match the signed release | expected=8bbb45b6"},
      {"crclist.sig missing", [](Files& f, test::LoopbackHttpServer&) { f.erase("/patch/1.0/crclist.sig"); },
       "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 0, 13, "crclist.sig | HTTP 404"},
      {"crclist.sig truncated",
       [](Files& f, test::LoopbackHttpServer&) { f["/patch/1.0/crclist.sig"].resize(200); },
       "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 0, 13, "missing or malformed"},
      {"signed by another key", nullptr, "signing/key_b.pub", Utc("2030-01-01T00:00:00Z"), 0, 13,
       "no trusted key verifies"},
      {"a flipped bit", [](Files& f, test::LoopbackHttpServer&) { f["/patch/1.0/crclist.sig"][15] ^= 1; },
       "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 0, 13, "no trusted key verifies"},
      {"expired", nullptr, "signing/key_a.pub", Utc("2036-12-04T01:30:12Z"), 0, 14,
       "expires 2036-12-04T01:30:12Z"},
      {"replayed older serial", nullptr, "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 8, 15,
       "serial 7, accepted 8", 8},
      {"endless body for a signed file",
       [](Files& f, test::LoopbackHttpServer& server) {
         f.erase("/patch/1.0/data/Town%20Hall.pak.lz");
         server.Serve("/patch/1.0/data/Town%20Hall.pak.lz",
                      test::Response::WithoutLength(std::string(1 << 20, 'z')));
       },
       "signing/key_a.pub", Utc("2030-01-01T00:00:00Z"), 0, 5, "response too large (> 97 bytes)", 7},
  };

  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.name);
    test::TempDir root;
    const fs::path game = root.path() / "game";
    test::WriteFileBytes(game / "emb.bin", "old!!");  // a good file of the installed game
    test::WriteFileBytes(game / "save/slot1.dat", "progress");
    test::WriteFileBytes(root / "outside.txt", "untouched");
    const std::u16string trust_path = WidePath(game / fs::path(std::u16string(kTrustFileName)));
    if (attack.accepted != 0) {
      ASSERT_TRUE(SaveAcceptedSerial(trust_path, attack.accepted));
    }

    test::LoopbackHttpServer server;
    const auto url = [&](const char* path) {
      const std::string plain = server.UrlUtf8(path);
      return attack.tls_refused ? "https" + plain.substr(4) : plain;
    };
    std::vector<std::u16string> config_urls = {Utf8ToWide(url("/new/config.xml"))};
    if (attack.tls_refused) config_urls.push_back(server.Url("/new/config.xml"));
    Files files = {{"/new/config.xml", test::ConfigDocument(url("/patch"), "1.0", "emb.bin")}};
    for (const auto& [name, url_path] : kPublished) {
      files[url_path] = test::ReadFileBytes(test::TestDataPath(std::string(kVersionDir) + name));
    }
    if (attack.tamper) attack.tamper(files, server);
    server.ServeFiles(files);

    const EcdsaPublicKey key = Key(attack.key);
    test::EngineHarness harness(game, config_urls, [&](PatchEngineOptions& o) {
      o.trustedKeys = {Key("signing/key_b.pub"), key};  // a second pinned key changes nothing
      if (attack.key == std::string("signing/key_b.pub")) o.trustedKeys = {key};
      o.wallClock = [now = attack.now] { return now; };
    });
    const ProgressState last = harness.RunToEnd();

    if (attack.code == 0) {
      EXPECT_TRUE(last.ready) << WideToUtf8(last.errorText);
      for (const auto& [path, file] : signed_doc->document.files) {
        SCOPED_TRACE(path);
        const std::string local = test::ReadFileBytes(game / path);
        EXPECT_EQ(static_cast<std::int64_t>(local.size()), file.size);
        EXPECT_EQ(Sha256Of(local), file.sha256);
      }
    } else {
      EXPECT_FALSE(last.ready);
      EXPECT_EQ(last.stage, 4u);
      EXPECT_TRUE(last.errorText.starts_with(PatchErrorText(attack.code) + u" | "))
          << WideToUtf8(last.errorText);
      EXPECT_EQ(last.statusText, ErrorMessageForCode(LoadUiStrings(Language::English), attack.code));
      EXPECT_NE(WideToUtf8(last.errorText).find(attack.detail), std::string::npos)
          << WideToUtf8(last.errorText);
      // Untouched, or (with several connections) replaced by the genuine file.
      const std::string entry = test::ReadFileBytes(game / "emb.bin");
      EXPECT_TRUE(entry == "old!!" || Sha256Of(entry) == signed_doc->document.files.at("emb.bin").sha256)
          << entry;
    }
    EXPECT_EQ(test::ReadFileBytes(game / "save/slot1.dat"), "progress");
    EXPECT_EQ(LoadAcceptedSerial(trust_path), attack.serial_after);
    std::set<std::string> outside;
    for (const fs::directory_entry& entry : fs::directory_iterator(root.path())) {
      outside.insert(Utf8Path(entry.path().filename()));
    }
    EXPECT_EQ(outside, (std::set<std::string>{"game", "outside.txt"}));
    EXPECT_EQ(test::ReadFileBytes(root / "outside.txt"), "untouched");
  }
}

}  // namespace
}  // namespace emberfall
