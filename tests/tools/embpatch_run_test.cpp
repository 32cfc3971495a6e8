// embpatch run as operators and scripts use it: a separate process against
// nginx, its exit codes and the last lines it prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "core/fs_path.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {


class EmbpatchRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx_.ok());
    test::PublicationSettings settings;
    settings.crcpatch_url = nginx_.BaseUrl() + "/patch";
    test::WritePublication(web_root_.path(), settings,
                           {{"bin/game.exe", "entry"}, {"data/a.bin", std::string(70000, 'a')}});
  }

  test::ProcessResult Run(std::vector<std::string> extra) {
    std::vector<std::string> args = {"run", "--game-dir", Utf8Path(game_.path())};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::RunProcess(test::BuiltProgram("embpatch"), args);
  }

  std::string ConfigUrl() const { return nginx_.BaseUrl() + "/new/emb.launcher.config.xml"; }

  test::TempDir web_root_;
  test::TempDir game_;
  test::NginxServer nginx_{web_root_.path()};
};

TEST_F(EmbpatchRunTest, UpdatesThenReportsUpToDate) {
  test::ProcessResult r = Run({"--config-url", ConfigUrl(), "--lang", "en"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(test::LastLine(r.out), "2 files updated");
  EXPECT_NE(r.out.find("DOWNLOADING..."), std::string::npos) << r.out;
  EXPECT_EQ(test::ReadFileBytes(game_ / "data/a.bin"), std::string(70000, 'a'));

  r = Run({"--config-url", ConfigUrl(), "--lang", "de", "--connections", "1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(test::LastLine(r.out), "Aktuell");
}

// Replacing a read-only file that had to be hashed, and removing staged files
// an interrupted run left, several times over: the worker hashes, applies and
// ends each time, which is where an exit-time fault of the worker shows.
TEST_F(EmbpatchRunTest, ReplacesReadOnlyFilesAndRemovesLeftoversEveryTime) {
  namespace fs = std::filesystem;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    fs::remove_all(game_.path());
    test::WriteFileBytes(game_ / "data/a.bin", std::string(70000, 'b'));
    fs::permissions(game_ / "data/a.bin", fs::perms::owner_write | fs::perms::group_write |
                                              fs::perms::others_write, fs::perm_options::remove);
    test::WriteFileBytes(game_ / "data/a.bin.emb-new", "left over");
    test::WriteFileBytes(game_ / "bin/game.exe.emb-new", "left over");

    const test::ProcessResult r = Run({"--config-url", ConfigUrl(), "--lang", "en"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(test::LastLine(r.out), "2 files updated");
    EXPECT_EQ(test::ReadFileBytes(game_ / "data/a.bin"), std::string(70000, 'a'));
    EXPECT_FALSE(fs::exists(game_ / "data/a.bin.emb-new"));
    EXPECT_FALSE(fs::exists(game_ / "bin/game.exe.emb-new"));
  }
}

TEST_F(EmbpatchRunTest, TriesEachConfigurationUrlInOrder) {
  test::LoopbackHttpServer broken;
  broken.Serve("/c.xml", test::Response::Status(500));
  test::ProcessResult r = Run({"--config-url", broken.UrlUtf8("/c.xml"), "--config-url",
                               ConfigUrl(), "--lang", "tr"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(test::LastLine(r.out), "2 dosya g\xC3\xBCncellendi");
  EXPECT_EQ(broken.RequestCount("/c.xml"), 3u);
}

TEST_F(EmbpatchRunTest, AFailureIsTheLastLineOnStderr) {
  test::LoopbackHttpServer server;
  server.Serve("/c.xml", test::Response::Ok("<torrent_config/>"));
  test::ProcessResult r = Run({"--config-url", server.UrlUtf8("/c.xml"), "--lang", "en"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(test::LastLine(r.err), "missing crcpatch_url");
  EXPECT_NE(r.err.find("Patch configuration is incomplete. Please contact support."),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace emberfall
