// embpatch publish and pack (the Linux build, which has the compressor): the
// web root they write is read back with the launcher's own parsers and
// decoder, and served by nginx to embpatch run.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/fs_path.h"
#include "core/patch_config.h"
#include "core/patch_error.h"
#include "core/payload.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;


std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

class EmbpatchPublishTest : public testing::Test {
 protected:
  void SetUp() override {
    const test::Bytes text = test::TextBytes(200000, 7);
    files_ = {
        {"bin/game.exe", std::string(50000, '\x90') + "entry"},
        {"data/Town Hall.pak", std::string(text.begin(), text.end())},
        {"data/m\xC3\xBCzik.txt", "ate\xC5\x9F\n"},
        {"empty.dat", ""},
    };
    for (const auto& [path, contents] : files_) test::WriteFileBytes(game_source_ / path, contents);
  }

  test::ProcessResult Publish(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"publish",        "--from",    Utf8Path(game_source_.path()),
                                     "--web-root",     Utf8Path(web_root_.path()),
                                     "--crcpatch-url", "http://127.0.0.1:8080/patch",
                                     "--version",      "3.1",
                                     "--run-path",     "bin/game.exe"};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::RunProcess(test::BuiltProgram("embpatch"), args);
  }

  fs::path VersionDir() const { return web_root_ / "patch/3.1"; }

  // The publication as the launcher reads it; every payload must decode to
  // its file.
  void ExpectPublished() {
    const PatchConfig config =
        ParsePatchConfig(test::ReadFileBytes(web_root_ / "new/emb.launcher.config.xml"));
    EXPECT_EQ(config.run_path_wide, u"bin\\game.exe");
    EXPECT_EQ(config.crcpatch_url, "http://127.0.0.1:8080/patch/");
    EXPECT_EQ(config.crcversion, "3.1");
    const std::vector<CrcListEntry> entries =
        ParseCrcList(test::ReadFileBytes(VersionDir() / "crclist"));
    ASSERT_EQ(entries.size(), files_.size());
    for (const CrcListEntry& entry : entries) {
      SCOPED_TRACE(entry.path);
      const std::string& contents = files_.at(entry.path);
      EXPECT_EQ(entry.crc, Crc32Buffer(contents.data(), contents.size()));
      EXPECT_EQ(entry.size, static_cast<std::int64_t>(contents.size()));
      const std::string payload = test::ReadFileBytes(VersionDir() / (entry.path + ".lz"));
      EXPECT_EQ(entry.packed_size, static_cast<std::int64_t>(payload.size()));
      EXPECT_TRUE(DecodePayload(Bytes(payload), entry.size) == Bytes(contents));
    }
  }

  std::map<std::string, std::string> files_;
  test::TempDir game_source_;
  test::TempDir web_root_;
};

TEST_F(EmbpatchPublishTest, WritesWhatTheLauncherReads) {
  const test::ProcessResult r = Publish();
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("published 4 files: 4 payloads written, 0 unchanged, 0 removed"),
            std::string::npos)
      << r.out;
  ExpectPublished();
  EXPECT_EQ(test::ReadFileBytes(VersionDir() / "bin/game.exe.lz").substr(0, 4), "MCOZ");
  const std::string text_payload = test::ReadFileBytes(VersionDir() / "data/Town Hall.pak.lz");
  EXPECT_LT(text_payload.size(), files_["data/Town Hall.pak"].size() / 2);  // it compresses
}

TEST_F(EmbpatchPublishTest, RepublishingRewritesOnlyWhatChanged) {
  ASSERT_EQ(Publish().exit_code, 0);
  const auto untouched = fs::last_write_time(VersionDir() / "bin/game.exe.lz");
  const auto list_time = fs::last_write_time(VersionDir() / "crclist");

  test::ProcessResult r = Publish();
  EXPECT_NE(r.out.find("0 payloads written, 4 unchanged, 0 removed"), std::string::npos) << r.out;
  EXPECT_EQ(fs::last_write_time(VersionDir() / "crclist"), list_time);

  files_["data/Town Hall.pak"] += "more";
  test::WriteFileBytes(game_source_ / "data/Town Hall.pak", files_["data/Town Hall.pak"]);
  fs::remove(game_source_ / "empty.dat");
  files_.erase("empty.dat");
  r = Publish();
  EXPECT_NE(r.out.find("published 3 files: 1 payloads written, 2 unchanged, 1 removed"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(VersionDir() / "empty.dat.lz"));
  EXPECT_EQ(fs::last_write_time(VersionDir() / "bin/game.exe.lz"), untouched);
  ExpectPublished();
}

TEST_F(EmbpatchPublishTest, WritesBareFastPayloadsOnRequest) {
  const test::ProcessResult r = Publish({"--bare", "--level", "1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ExpectPublished();
  const std::string payload = test::ReadFileBytes(VersionDir() / "bin/game.exe.lz");
  const std::uint32_t size = static_cast<std::uint8_t>(payload[0]) |
                             static_cast<std::uint8_t>(payload[1]) << 8 |
                             static_cast<std::uint8_t>(payload[2]) << 16 |
                             static_cast<std::uint32_t>(static_cast<std::uint8_t>(payload[3])) << 24;
  EXPECT_EQ(size, files_["bin/game.exe"].size());
}

TEST_F(EmbpatchPublishTest, RefusesWhatTheLauncherWouldRefuse) {
  test::ProcessResult r = Publish({"--crcpatch-url", "ftp://h/p"});
  // A later --crcpatch-url is a repetition: a usage error.
  EXPECT_EQ(r.exit_code, 2);

  std::vector<std::string> args = {"publish", "--from", Utf8Path(game_source_.path()), "--web-root",
                                   Utf8Path(web_root_.path()), "--crcpatch-url", "ftp://h/p",
                                   "--version", "1"};
  r = test::RunProcess(test::BuiltProgram("embpatch"), args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(test::LastLine(r.err), "Invalid torrent config | crcpatch_url is not http(s): ftp://h/p/");

  args[6] = "http://h/p";
  args[8] = "v 1";
  r = test::RunProcess(test::BuiltProgram("embpatch"), args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(test::LastLine(r.err), "Invalid torrent config | invalid crcversion: v 1");

  args[8] = "1";
  test::WriteFileBytes(game_source_ / "lpt1.txt", "device");
  r = test::RunProcess(test::BuiltProgram("embpatch"), args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("lpt1.txt"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(web_root_ / "new"));  // nothing half published
}

TEST_F(EmbpatchPublishTest, PackMakesOnePayload) {
  const fs::path out = web_root_ / "one.lz";
  const test::ProcessResult r =
      test::RunProcess(test::BuiltProgram("embpatch"),
                       {"pack", Utf8Path(game_source_ / "data/Town Hall.pak"), "-o", Utf8Path(out)});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string& contents = files_["data/Town Hall.pak"];
  const std::string payload = test::ReadFileBytes(out);
  char expected[64];
  std::snprintf(expected, sizeof(expected), "%08x %zu %zu\n", Crc32Buffer(contents.data(), contents.size()),
                contents.size(), payload.size());
  EXPECT_EQ(r.out, expected);
  EXPECT_TRUE(DecodePayload(Bytes(payload), static_cast<std::int64_t>(contents.size())) ==
              Bytes(contents));
}

TEST_F(EmbpatchPublishTest, APublicationServedByNginxInstallsWithEmbpatchRun) {
  test::NginxServer nginx(web_root_.path());
  ASSERT_TRUE(nginx.ok());
  std::vector<std::string> args = {"publish", "--from", Utf8Path(game_source_.path()),
                                   "--web-root", Utf8Path(web_root_.path()),
                                   "--crcpatch-url", nginx.BaseUrl() + "/patch", "--version", "9"};
  ASSERT_EQ(test::RunProcess(test::BuiltProgram("embpatch"), args).exit_code, 0);
  test::TempDir game;
  const test::ProcessResult r = test::RunProcess(
      test::BuiltProgram("embpatch"),
      {"run", "--game-dir", Utf8Path(game.path()), "--config-url",
       nginx.BaseUrl() + "/new/emb.launcher.config.xml", "--lang", "en"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(test::LastLine(r.out), "4 files updated");
  for (const auto& [path, contents] : files_) {
    EXPECT_TRUE(test::ReadFileBytes(game / path) == contents) << path;
  }
}

}  // namespace
}  // namespace emberfall
