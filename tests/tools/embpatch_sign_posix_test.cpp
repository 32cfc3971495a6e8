// embpatch keygen, publish --sign-key, sign and verify-publication (the
// Linux build, which compresses and signs): what one key signs, another
// does not vouch for, and any edit of the published files shows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "core/fs_path.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

class EmbpatchSignTest : public testing::Test {
 protected:
  void SetUp() override {
    test::WriteFileBytes(game_ / "emb.bin", "entry");
    test::WriteFileBytes(game_ / "data/Town Hall.pak", std::string(3000, 't') + "hall");
    test::WriteFileBytes(game_ / "empty.dat", "");
    key_a_ = Keygen("a.pem");
    key_b_ = Keygen("b.pem");
  }

  test::ProcessResult Embpatch(const std::vector<std::string>& args) {
    return test::RunProcess(test::BuiltProgram("embpatch"), args);
  }

  std::string Keygen(const std::string& name) {
    const test::ProcessResult r = Embpatch({"keygen", "--out", Utf8Path(keys_ / name)});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
  }

  test::ProcessResult Publish(std::vector<std::string> extra) {
    std::vector<std::string> args = {"publish", "--from", Utf8Path(game_.path()), "--web-root",
                                     Utf8Path(web_root_.path()), "--crcpatch-url",
                                     "http://127.0.0.1/patch", "--version", "2.0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Embpatch(args);
  }

  test::ProcessResult Verify(const std::vector<std::string>& keys) {
    std::vector<std::string> args = {"verify-publication", "--web-root", Utf8Path(web_root_.path()),
                                     "--version", "2.0"};
    for (const std::string& key : keys) args.insert(args.end(), {"--trust-key", key});
    return Embpatch(args);
  }

  fs::path VersionDir() const { return web_root_ / "patch/2.0"; }

  test::TempDir game_;
  test::TempDir keys_;
  test::TempDir web_root_;
  std::string key_a_;
  std::string key_b_;
};

TEST_F(EmbpatchSignTest, KeygenWritesAPrivateKeyOnce) {
  EXPECT_EQ(key_a_.size(), 130u);
  EXPECT_TRUE(key_a_.starts_with("04"));
  EXPECT_NE(key_a_, key_b_);
  struct stat info {};
  ASSERT_EQ(::stat((keys_ / "a.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const std::string pem = test::ReadFileBytes(keys_ / "a.pem");
  const test::ProcessResult again = Embpatch({"keygen", "--out", Utf8Path(keys_ / "a.pem")});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("the file exists"), std::string::npos) << again.err;
  EXPECT_EQ(test::ReadFileBytes(keys_ / "a.pem"), pem);
}

TEST_F(EmbpatchSignTest, ASignedPublicationVerifiesUntilItsFilesAreEdited) {
  test::ProcessResult r = Publish({"--sign-key", Utf8Path(keys_ / "a.pem")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("signed 3 files: serial 1, "), std::string::npos) << r.out;

  r = Verify({key_a_});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with("ok: serial 1, 3 files, expires ")) << r.out;
  r = Verify({key_b_});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "crclist.sig: no trusted key verifies the release signature\n");
  EXPECT_EQ(Verify({key_b_, key_a_}).exit_code, 0);

  // Re-signing takes the next serial by default.
  const std::vector<std::string> sign = {"sign", "--web-root", Utf8Path(web_root_.path()), "--version",
                                         "2.0", "--sign-key", Utf8Path(keys_ / "a.pem")};
  r = Embpatch(sign);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("serial 2, "), std::string::npos) << r.out;

  // A payload edited on the server: verification names it, signing refuses.
  const fs::path payload = VersionDir() / "data/Town Hall.pak.lz";
  const std::string original = test::ReadFileBytes(payload);
  std::string bytes = original;
  bytes[bytes.size() - 5] ^= 0x20;
  test::WriteFileBytes(payload, bytes);
  const std::string document = test::ReadFileBytes(VersionDir() / "crclist.sig");
  r = Verify({key_a_});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.starts_with("data/Town Hall.pak: ")) << r.out;
  r = Embpatch(sign);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("data/Town Hall.pak: "), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFileBytes(VersionDir() / "crclist.sig"), document);
  test::WriteFileBytes(payload, original);

  // Files and crclist replaced consistently, the old document left beside
  // them: the crclist no longer matches, and the changed file is named.
  test::WriteFileBytes(game_ / "emb.bin", "evil!");
  r = Publish({});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("crclist.sig no longer matches"), std::string::npos) << r.err;
  r = Verify({key_a_});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out,
            "crclist.sig: crclist does not match the signed release\n"
            "emb.bin: decoded contents differ from the signed SHA-256\n");
}

// The headless client with --trust-key against what publish --sign-key made,
// served by nginx: the signing key's public half installs it, another key
// installs nothing.
TEST_F(EmbpatchSignTest, RunWithATrustKeyInstallsOnlyWhatThatKeySigned) {
  test::NginxServer nginx(web_root_.path());
  ASSERT_TRUE(nginx.ok());
  test::ProcessResult r = Embpatch({"publish", "--from", Utf8Path(game_.path()), "--web-root",
                                    Utf8Path(web_root_.path()), "--crcpatch-url",
                                    nginx.BaseUrl() + "/patch", "--version", "2.0", "--sign-key",
                                    Utf8Path(keys_ / "a.pem")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  test::TempDir player;
  auto run = [&](const std::string& key) {
    return Embpatch({"run", "--game-dir", Utf8Path(player.path()), "--lang", "en", "--config-url",
                     nginx.BaseUrl() + "/new/emb.launcher.config.xml", "--trust-key", key});
  };

  r = run(key_b_);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(test::LastLine(r.err).starts_with("Release signature invalid | http://")) << r.err;
  EXPECT_NE(r.err.find("The update could not be verified as genuine."), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(player / "emb.bin"));

  r = run(key_a_);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(test::LastLine(r.out), "3 files updated");
  EXPECT_EQ(test::ReadFileBytes(player / "data/Town Hall.pak"), std::string(3000, 't') + "hall");
  EXPECT_EQ(test::ReadFileBytes(player / "EmbLauncher.trust"), "EMBTR1\nserial 1\n");

  EXPECT_EQ(run("04abc").exit_code, 2);
}

}  // namespace
}  // namespace emberfall
