// The Linux build of embpatch, which compresses and signs: what publish and
// pack write is installed by embpatch run and decoded by the launcher's own
// decoder; what one key signs, another does not vouch for. Then what only a
// POSIX system lets a test show: Ctrl-C and a terminal.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <string>

#include "core/crc32.h"
#include "core/fs_path.h"
#include "core/patch_config.h"
#include "core/payload.h"
#include "core/release_document.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

test::ProcessResult Embpatch(const std::vector<std::string>& args) {
  return test::RunProcess(test::BuiltProgram("embpatch"), args);
}

class EmbpatchPublishTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i % 97) + "\n";
    files_ = {{"bin/game.exe", std::string(50000, '\x90') + "entry"},
              {"data/Town Hall.pak", text},
              {"data/m\xC3\xBCzik.txt", "ate\xC5\x9F\n"},
              {"empty.dat", ""}};
    for (const auto& [path, contents] : files_) test::WriteFileBytes(source_ / path, contents);
  }

  test::ProcessResult Publish(std::vector<std::string> extra = {}, std::string url = "") {
    std::vector<std::string> args = {
        "publish", "--from", Utf8Path(source_.path()), "--web-root", Utf8Path(web_root_.path()),
        "--crcpatch-url", url.empty() ? server_.UrlUtf8("/patch") : url, "--version", "3.1",
        "--run-path", "bin/game.exe"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Embpatch(args);
  }
  fs::path VersionDir() const { return web_root_ / "patch/3.1"; }

  // embpatch run of the publication into an empty folder: every file must
  // arrive as it was published.
  void ExpectInstalls(const std::vector<std::string>& trust = {}) {
    server_.ServeFiles(test::ReadFolder(web_root_.path()));
    fs::remove_all(player_);
    std::vector<std::string> args = {"run", "--game-dir", Utf8Path(player_), "--lang", "en",
                                     "--config-url",
                                     server_.UrlUtf8("/new/emb.launcher.config.xml")};
    args.insert(args.end(), trust.begin(), trust.end());
    const test::ProcessResult r = Embpatch(args);
    EXPECT_EQ(test::LastLine(r.out), std::to_string(files_.size()) + " files updated") << r.err;
    for (const auto& [path, contents] : files_) {
      EXPECT_TRUE(test::ReadFileBytes(player_ / path) == contents) << path;
    }
  }

  std::map<std::string, std::string> files_;
  test::TempDir source_;
  test::TempDir web_root_;
  test::TempDir keys_;
  fs::path player_ = keys_ / "player";
  test::LoopbackHttpServer server_;
};

TEST_F(EmbpatchPublishTest, WritesWhatTheLauncherReadsAndRewritesOnlyWhatChanged) {
  test::ProcessResult r = Publish();
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("published 4 files: 4 payloads written, 0 unchanged, 0 removed\n"))
      << r.out;
  EXPECT_EQ(ParsePatchConfig(test::ReadFileBytes(web_root_ / "new/emb.launcher.config.xml"))
                .run_path_wide, u"bin\\game.exe");
  ExpectInstalls();
  EXPECT_EQ(test::ReadFileBytes(VersionDir() / "bin/game.exe.lz").substr(0, 4), "MCOZ");
  const std::string text_payload = test::ReadFileBytes(VersionDir() / "data/Town Hall.pak.lz");
  EXPECT_LT(text_payload.size(), files_["data/Town Hall.pak"].size() / 2);  // it compresses

  const auto untouched = fs::last_write_time(VersionDir() / "bin/game.exe.lz");
  const auto list_time = fs::last_write_time(VersionDir() / "crclist");
  r = Publish();
  EXPECT_TRUE(r.out.starts_with("published 4 files: 0 payloads written, 4 unchanged, 0 removed\n"))
      << r.out;
  EXPECT_EQ(fs::last_write_time(VersionDir() / "crclist"), list_time);

  files_["data/Town Hall.pak"] += "more";
  test::WriteFileBytes(source_ / "data/Town Hall.pak", files_["data/Town Hall.pak"]);
  fs::remove(source_ / "empty.dat");
  files_.erase("empty.dat");
  r = Publish();
  EXPECT_TRUE(r.out.starts_with("published 3 files: 1 payloads written, 2 unchanged, 1 removed\n"))
      << r.out;
  EXPECT_FALSE(fs::exists(VersionDir() / "empty.dat.lz"));
  EXPECT_EQ(fs::last_write_time(VersionDir() / "bin/game.exe.lz"), untouched);
  ExpectInstalls();
}

TEST_F(EmbpatchPublishTest, WritesBareOrSinglePayloadsOnRequestAndRefusesWhatLaunchersWould) {
  ASSERT_EQ(Publish({"--bare", "--level", "1"}).exit_code, 0);
  ExpectInstalls();
  const std::string bare = test::ReadFileBytes(VersionDir() / "bin/game.exe.lz");
  EXPECT_EQ(bare.substr(0, 4), std::string("\x55\xC3\0\0", 4));  // the size, 50005

  const std::string& contents = files_["data/Town Hall.pak"];
  test::ProcessResult r = Embpatch(
      {"pack", Utf8Path(source_ / "data/Town Hall.pak"), "-o", Utf8Path(keys_ / "one.lz")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string packed = test::ReadFileBytes(keys_ / "one.lz");
  char line[64];
  std::snprintf(line, sizeof(line), "%08x %zu %zu\n", Crc32Buffer(contents.data(), contents.size()),
                contents.size(), packed.size());
  EXPECT_EQ(r.out, line);
  EXPECT_TRUE(DecodePayload(Bytes(packed), static_cast<std::int64_t>(contents.size())) ==
              Bytes(contents));

  fs::remove_all(web_root_.path());
  r = Publish({}, "ftp://h/p");
  EXPECT_EQ(test::LastLine(r.err),
            "Invalid torrent config | crcpatch_url is not http(s): ftp://h/p/");
  test::WriteFileBytes(source_ / "lpt1.txt", "device");  // a device name on Windows
  r = Publish();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("'lpt1.txt' cannot be published"), std::string::npos) << r.err;
  // A later --crcpatch-url is a repetition: a usage error.
  EXPECT_EQ(Publish({"--crcpatch-url", "http://h/q"}).exit_code, 2);
  EXPECT_FALSE(fs::exists(web_root_ / "new"));  // nothing half published
}

TEST_F(EmbpatchPublishTest, ASignedPublicationInstallsAndVerifiesUntilItsFilesAreEdited) {
  test::ProcessResult r = Embpatch({"keygen", "--out", Utf8Path(keys_ / "a.pem")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string key_a = r.out.substr(0, r.out.find('\n'));  // the public half
  EXPECT_TRUE(key_a.size() == 130 && key_a.starts_with("04")) << key_a;
  struct stat info {};
  ASSERT_EQ(::stat((keys_ / "a.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string pem = test::ReadFileBytes(keys_ / "a.pem");
  r = Embpatch({"keygen", "--out", Utf8Path(keys_ / "a.pem")});
  EXPECT_NE(r.err.find("the file exists"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFileBytes(keys_ / "a.pem"), pem);

  r = Publish({"--sign-key", Utf8Path(keys_ / "a.pem")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string signed_as = "signed 4 files: serial 1, expires ";
  const size_t at = r.out.find(signed_as);
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::string expires = r.out.substr(at + signed_as.size(), 20);
  ASSERT_TRUE(ParseUtcTime(expires)) << r.out;
  // Signed for 30 days from now.
  EXPECT_NEAR(static_cast<double>(*ParseUtcTime(expires) - std::time(nullptr)), 30 * 86400.0, 60.0);

  // The headless client checks the release with the key it is given: the
  // trust file records the serial it accepted.
  ExpectInstalls({"--trust-key", key_a});
  EXPECT_EQ(test::ReadFileBytes(player_ / "EmbLauncher.trust"), "EMBTR1\nserial 1\n");

  const auto verify = [&] {
    return Embpatch({"verify-publication", "--web-root", Utf8Path(web_root_.path()), "--version",
                     "3.1", "--trust-key", key_a});
  };
  r = verify();
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ok: serial 1, 4 files, expires " + expires + "\n");

  // Re-signing takes the next serial by default.
  const std::vector<std::string> sign = {"sign", "--version", "3.1", "--sign-key",
                                         Utf8Path(keys_ / "a.pem"), "--web-root",
                                         Utf8Path(web_root_.path())};
  r = Embpatch(sign);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("signed 4 files: serial 2, ")) << r.out;

  // A payload edited on the server: verification names it, signing refuses.
  const fs::path payload = VersionDir() / "data/Town Hall.pak.lz";
  const std::string original = test::ReadFileBytes(payload);
  std::string bytes = original;
  bytes[bytes.size() - 5] ^= 0x20;
  test::WriteFileBytes(payload, bytes);
  const std::string document = test::ReadFileBytes(VersionDir() / "crclist.sig");
  r = verify();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.starts_with("data/Town Hall.pak: ")) << r.out;
  r = Embpatch(sign);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("data/Town Hall.pak: "), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFileBytes(VersionDir() / "crclist.sig"), document);
  test::WriteFileBytes(payload, original);

  // Files and crclist replaced consistently, the old document left beside
  // them: the crclist no longer matches, and the changed file is named.
  test::WriteFileBytes(source_ / "data/m\xC3\xBCzik.txt", "evil!\n");  // the same size
  r = Publish();
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("crclist.sig no longer matches"), std::string::npos) << r.err;
  r = verify();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out,
            "crclist.sig: crclist does not match the signed release\n"
            "data/m\xC3\xBCzik.txt: decoded contents differ from the signed SHA-256\n");
}

// SIGINT (from timeout(1)) while the run hangs in its first request: the run
// is cancelled and embpatch exits with 130, well within its limit.
TEST(EmbpatchPosixTest, CtrlCCancelsTheRunWithExitCode130) {
  test::LoopbackHttpServer server;
  server.Serve("/c.xml", test::Response::Stall(std::chrono::seconds(20)));
  test::TempDir game;
  const test::ProcessResult r = test::RunProcess(
      "/usr/bin/timeout",
      {"--preserve-status", "-s", "INT", "3", test::BuiltProgram("embpatch").string(), "run",
       "--game-dir", Utf8Path(game.path()), "--config-url", server.UrlUtf8("/c.xml")},
      std::chrono::seconds(11));
  EXPECT_EQ(server.RequestCount("/c.xml"), 1u);
  EXPECT_EQ(r.exit_code, 130) << r.err;
}

// A body on the operator's terminal is shown escaped, line by line, so a
// server cannot send the terminal control sequences; script(1) gives
// embpatch a terminal, which ends lines with "\r\n". (Through a pipe the
// body is written as it is: EmbpatchTest.)
TEST(EmbpatchPosixTest, FetchEscapesABodyShownOnATerminal) {
  test::LoopbackHttpServer server;
  server.Serve("/b", test::Response::Ok("# list\n\x1b]0;title\x07\xff\r\n"));
  const test::ProcessResult r = test::RunProcess(
      "/usr/bin/script", {"-q", "-e", "-c", test::BuiltProgram("embpatch").string() + " fetch " +
                                                server.UrlUtf8("/b"), "/dev/null"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "# list\r\n\\x1B]0;title\\x07\\xFF\\x0D\r\n");
}

}  // namespace
}  // namespace emberfall
