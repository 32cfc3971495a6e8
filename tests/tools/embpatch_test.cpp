// embpatch as operators and scripts meet it: a separate process, its exit
// code and the exact bytes it prints, over files in a temp folder and a
// loopback server.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/fs_path.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using test::ProcessResult;
using test::Response;

class EmbpatchTest : public testing::Test {
 protected:
  // |text| with "$D" standing for the temp folder, "$U" for the server and
  // "$V" for the web root of the committed signed publication.
  std::string Expand(std::string text) const {
    const std::pair<std::string, std::string> tokens[] = {
        {"$D", Utf8Path(dir_.path())},
        {"$U", server_.UrlUtf8("")},
        {"$V", Utf8Path(test::TestDataPath("signing/www"))}};
    for (const auto& [token, value] : tokens) {
      for (size_t at; (at = text.find(token)) != std::string::npos;) {
        text.replace(at, token.size(), value);
      }
    }
    return text;
  }
  ProcessResult Embpatch(std::vector<std::string> args) const {
    for (std::string& arg : args) arg = Expand(arg);
    return test::RunProcess(test::BuiltProgram("embpatch"), args, std::chrono::seconds(60));
  }
  void Write(const std::string& name, std::string_view bytes) const {
    test::WriteFileBytes(dir_ / name, bytes);
  }

  test::TempDir dir_;
  test::LoopbackHttpServer server_;
  test::ScopedEnvironmentVariable no_override_{"EMBERFALL_PATCH_URL", std::nullopt};
};

TEST_F(EmbpatchTest, CommandsPrintExactlyWhatScriptsRead) {
  Write("c.xml", R"(<a x="1 &amp; 2" y=''/>)");
  Write("config.xml", R"(<torrent_config run_path="bin/game.exe"><foreground_patch )"
                      R"(crcpatch_url="https://h/p" crcversion="1.0.0.7"/></torrent_config>)");
  Write("bad.xml", "<torrent_config/>");
  Write("list", "# list\n1A2B3C4D 1048576 310211 0 data/maps/town.pak\r\n"
                "5 0 -1 -2 my file.txt\n5 0 9 9 MY FILE.TXT\n");
  Write("badlist", "1 2 3 4 ok\n\nnot a line\n");
  Write("esc.xml", "<a x=\"\x1b]0;t\x07 \xc2\x9b" "2J \x7f\xff\xc3 \xed\xa0\x80 \xc3\xbc\"/>");
  Write("esclist", "1 2 3 4 a\x7f\xc2\x85" "b\n");
  Write("escbad", "bad\rline\x1b[2J\tend\n");
  Write("a.txt", "123456789");
  Write("empty", "");
  fs::create_directories(dir_ / "folder");
  Write("a.lz", test::StoredPayload("abcd"));
  Write("pub/a.bin", "data");
  const bool windows = test::IsWindowsBuild();  // which has no compressor, so cannot publish
  const std::string body = test::PatternBody(70000);
  server_.Serve("/a.lz", Response::Ok(body));
  server_.Serve("/unsized", Response::WithoutLength("abc"));
  const std::string key_a = test::TestKeyHex("key_a");
  const std::string key_b = test::TestKeyHex("key_b");

  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out;  // all of stdout
    std::string err;  // in stderr (in its last line for exit code 1); empty: no stderr
  } cases[] = {
      {{"xml-attr", "$D/c.xml", "a", "x"}, 0, "1 & 2\n", ""},
      {{"xml-attr", "$D/c.xml", "a", "missing"}, 0, "\n", ""},
      {{"parse-config", "$D/config.xml"}, 0,
       "run_path=bin\\game.exe\ncrcpatch_url=https://h/p/\ncrcversion=1.0.0.7\n"
       "base_url=https://h/p/1.0.0.7/\n", ""},
      {{"parse-config", "$D/bad.xml"}, 1, "", "missing crcpatch_url"},
      {{"parse-crclist", "$D/list"}, 0,
       "1a2b3c4d 1048576 310211 0 data\\maps\\town.pak\n00000005 0 -1 -2 my file.txt\n", ""},
      {{"parse-crclist", "$D/badlist"}, 1, "",
       "Invalid crclist response | crclist line 3: not a line"},
      // What a server wrote reaches the operator's terminal escaped: controls,
      // C1 controls and broken UTF-8 as text, everything else as it is.
      {{"xml-attr", "$D/esc.xml", "a", "x"}, 0,
       "\\x1B]0;t\\x07 \\u{9B}2J \\x7F\\xFF\\xC3 \\xED\\xA0\\x80 \xc3\xbc\n", ""},
      {{"parse-crclist", "$D/esclist"}, 0, "00000001 2 3 4 a\\x7F\\u{85}b\n", ""},
      {{"parse-crclist", "$D/escbad"}, 1, "",
       "Invalid crclist response | crclist line 1: bad\\x0Dline\\x1B[2J\\x09end"},
      {{"xml-attr", "$D/nope.xml", "a", "b"}, 1, "", "cannot read '$D/nope.xml'"},
      {{"parse-config", "$D/folder"}, 1, "", "cannot read '$D/folder'"},
      {{"crc32", "$D/a.txt", "$D/empty"}, 0, "cbf43926  $D/a.txt\n00000000  $D/empty\n", ""},
      {{"crc32", "$D/missing", "$D/a.txt", "$D/folder"}, 1, "cbf43926  $D/a.txt\n",
       "embpatch crc32: cannot read '$D/folder': is a directory"},
      {{"publish", "--from", "$D/pub", "--web-root", "$D/www", "--crcpatch-url", "http://h/p",
        "--version", "1"}, windows ? 1 : 0,
       windows ? "" : "published 1 files: 1 payloads written, 0 unchanged, 0 removed\n"
                      "configuration: $D/www/new/emb.launcher.config.xml\n"
                      "crclist: $D/www/p/1/crclist\n",
       windows ? "not available in the Windows build" : "'emb.bin' is not among the published"},
      {{"unpack", "$D/a.lz", "--size", "4", "-o", "$D/a.out"}, 0,
       "unpacked 4 bytes, crc32 ed82cd11\n", ""},
      {{"unpack", "$D/a.lz", "--size", "5", "-o", "$D/o"}, 1, "",
       "Unpack size mismatch | lz header size=4 expected=5"},
      {{"fetch", "$U/a.lz"}, 0, body, ""},
      {{"fetch", "$U/a.lz", "-o", "$D/fetched", "--refresh"}, 0, "", ""},
      {{"fetch", "--head", "$U/a.lz"}, 0, "70000\n", ""},
      {{"fetch", "--head", "$U/unsized"}, 0, "-1\n", ""},
      {{"fetch", "$U/missing"}, 1, "", "HTTP 404"},
      {{"fetch", "--head", "$U/missing"}, 1, "", "HTTP 404"},
      {{"fetch", "--max-bytes", "1000", "$U/a.lz"}, 1, "", "response too large (70000 bytes)"},
      // The committed publication, signed by the Linux build; the Windows
      // build checks it with BCrypt, as the launcher will.
      {{"verify-publication", "--web-root", "$V", "--version", "1.0", "--trust-key", key_b,
        "--trust-key", key_a}, 0, "ok: serial 7, 3 files, expires 2036-12-04T01:30:12Z\n", ""},
      {{"verify-publication", "--web-root", "$V", "--version", "1.0", "--trust-key", key_b}, 1,
       "crclist.sig: no trusted key verifies the release signature\n", "1 problem(s)"},
      {{"verify-publication", "--web-root", "$V", "--version", "1", "--trust-key", key_a.substr(2)},
       2, "", "--trust-key takes"},
      // Usage errors: exit code 2, the problem in its own words and the
      // usage line, and nothing done. A row that passes the argument check
      // fails later with exit code 1 instead.
      {{}, 2, "", "usage: embpatch"},
      {{"frobnicate"}, 2, "", "usage: embpatch"},
      {{"help", "nothing"}, 2, "", "usage: embpatch"},
      {{"xml-attr", "f", "a"}, 2, "", "usage: embpatch xml-attr"},
      {{"parse-config"}, 2, "", "usage: embpatch parse-config"},
      {{"parse-crclist", "a", "b"}, 2, "", "usage: embpatch parse-crclist"},
      {{"crc32"}, 2, "", "usage: embpatch crc32"},
      {{"unpack", "$D/a.lz", "-o", "$D/o"}, 2, "", "usage: embpatch unpack"},
      {{"unpack", "$D/a.lz", "--size", "-4", "-o", "$D/o"}, 2, "", "usage: embpatch unpack"},
      {{"unpack", "--size", "4", "-o", "$D/o"}, 2, "", "usage: embpatch unpack"},
      {{"unpack", "$D/nope", "--size", "4", "-o", "$D/o"}, 1, "", "nope"},
      {{"fetch"}, 2, "", "usage: embpatch fetch"},
      {{"fetch", "--max-bytes", "lots", "http://a/"}, 2, "", "usage: embpatch fetch"},
      {{"fetch", "--bogus", "http://a/"}, 2, "", "usage: embpatch fetch"},
      {{"fetch", "--head", "-o", "x", "http://a/"}, 2, "", "usage: embpatch fetch"},
      {{"run"}, 2, "", "usage: embpatch run"},
      {{"run", "--game-dir", "$D", "--lang", "fr"}, 2, "", "--lang must be"},
      {{"run", "--game-dir", "$D", "--lang", "en", "--lang", "de"}, 2, "", "given twice"},
      {{"run", "--game-dir", "$D", "extra"}, 2, "", "usage: embpatch run"},
      {{"run", "--game-dir", "$D", "--connections", "0"}, 2, "", "--connections must be"},
      {{"run", "--game-dir", "$D", "--connections", "17"}, 2, "", "--connections must be"},
      // 16 is allowed: the next option is the one refused.
      {{"run", "--game-dir", "$D", "--connections", "16", "--trust-key", "04abc"}, 2, "",
       "--trust-key takes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ProcessResult r = Embpatch(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_TRUE(r.out == Expand(c.out)) << r.out;  // no dump of binary output
    const std::string err = c.exit_code == 1 ? test::LastLine(r.err) : r.err;
    EXPECT_TRUE(c.err.empty() ? r.err.empty() : err.find(Expand(c.err)) != std::string::npos)
        << r.err;
  }
  EXPECT_EQ(test::ReadFileBytes(dir_ / "a.out"), "abcd");
  EXPECT_TRUE(test::ReadFileBytes(dir_ / "fetched") == body);
  EXPECT_FALSE(fs::exists(dir_ / "o"));
  std::string requests;
  for (const test::RecordedRequest& r : server_.Requests()) {
    requests += r.method + " " + r.target + " " + r.Header("Pragma").value_or("-") + ", ";
  }
  EXPECT_EQ(requests, "GET /a.lz -, GET /a.lz no-cache, HEAD /a.lz -, HEAD /unsized -, "
                      "GET /missing -, HEAD /missing -, GET /a.lz -, ");

  for (const auto& [args, says] :
       {std::pair<std::vector<std::string>, std::string>{{"--help"}, "parse-crclist"},
        {{"parse-config", "--help"}, "usage: embpatch parse-config FILE"},
        {{"help", "parse-crclist"}, "usage: embpatch parse-crclist FILE"}}) {
    const ProcessResult r = Embpatch(args);
    EXPECT_TRUE(r.exit_code == 0 && r.out.find(says) != std::string::npos) << r.out;
  }
  test::ScopedEnvironmentVariable mirror("EMBERFALL_PATCH_URL", "http://mirror/x");
  EXPECT_EQ(Embpatch({"parse-config", "$D/config.xml"}).out,
            "run_path=bin\\game.exe\ncrcpatch_url=http://mirror/x/\ncrcversion=1.0.0.7\n"
            "base_url=http://mirror/x/1.0.0.7/\n");
}

// embpatch run against a publication on the loopback server. Each round
// starts from a stale file: the worker hashes, applies and ends each time,
// which is where an exit-time fault of it shows (the Windows build checks
// the heap here).
TEST_F(EmbpatchTest, RunUpdatesInEveryLanguageEveryTime) {
  const std::string a(70000, 'a');
  server_.ServeFiles(test::BuildPublication(server_.UrlUtf8("/p"), {{"bin/game.exe", "entry"},
                                                                    {"data/a.bin", a}}));
  server_.Serve("/broken.xml", Response::Status(500));
  server_.Serve("/bad.xml", Response::Ok("<torrent_config/>"));
  for (const auto& [lang, updated] :
       {std::pair{"en", "2 files updated"}, {"tr", "2 dosya g\xC3\xBCncellendi"},
        {"de", "2 Dateien aktualisiert"}, {"en", "2 files updated"}}) {
    SCOPED_TRACE(lang);
    fs::remove_all(dir_ / "game");
    Write("game/data/a.bin", std::string(70000, 'b'));
    const ProcessResult r = Embpatch({"run", "--game-dir", "$D/game", "--lang", lang,
                                      "--config-url", "$U/broken.xml", "--config-url", "$U/c.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(test::LastLine(r.out), updated);
    EXPECT_NE(r.out.find("68.7 kB / 68.7 kB"), std::string::npos) << r.out;  // progress lines
    EXPECT_TRUE(test::ReadFileBytes(dir_ / "game/data/a.bin") == a);
  }
  EXPECT_EQ(server_.RequestCount("/broken.xml"), 4 * 3u);  // three attempts, then the next URL
  const ProcessResult r =
      Embpatch({"run", "--game-dir", "$D/game", "--lang", "en", "--config-url", "$U/bad.xml"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(test::LastLine(r.err), "missing crcpatch_url");
  EXPECT_NE(r.err.find("Patch configuration is incomplete. Please contact support."),
            std::string::npos) << r.err;
}

}  // namespace
}  // namespace emberfall
