// The patch engine against nginx on loopback, the web server operators run:
// a fresh install, an immediate re-run, one changed file, and an https
// configuration refused by its certificate.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/text.h"
#include "tests/support/engine_harness.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_test_server.h"

namespace emberfall {
namespace {

using test::EngineHarness;

class EngineNginxTest : public testing::Test {
 protected:
  void SetUp() override {
    files_ = {
        {"bin/game.exe", std::string(300000, 'g') + "entry"},
        {"data/maps/Town Hall.pak", test::ReadFileBytes(test::TestDataPath("ui_strings.tsv"))},
        {"data/m\xC3\xBCzik/tema.txt", "ate\xC5\x9F\n"},
        {"data/50%+#.bin", "odd name"},
        {"empty.dat", ""},
    };
    ASSERT_TRUE(nginx_.ok());
    Publish();
  }

  void Publish() {
    test::PublicationSettings settings;
    settings.crcpatch_url = nginx_.BaseUrl() + "/patch";
    settings.version = "2.0.1";
    test::WritePublication(web_root_.path(), settings, files_);
  }

  std::vector<std::u16string> ConfigUrls() const {
    return {Utf8ToWide(nginx_.BaseUrl() + "/new/emb.launcher.config.xml")};
  }

  void ExpectInstalled() {
    for (const auto& [path, contents] : files_) {
      SCOPED_TRACE(path);
      const std::string local = test::ReadFileBytes(game_ / path);
      EXPECT_TRUE(local == contents) << local.size() << " bytes, expected " << contents.size();
    }
  }

  // Requests for payloads (".lz") in nginx's log.
  size_t PayloadRequests() const {
    size_t n = 0;
    for (const std::string& line : nginx_.Requests()) {
      if (line.find(".lz ") != std::string::npos) ++n;
    }
    return n;
  }

  std::map<std::string, std::string> files_;
  test::TempDir web_root_;
  test::TempDir game_;
  test::NginxServer nginx_{web_root_.path()};
};

TEST_F(EngineNginxTest, InstallsThenFindsEverythingUpToDateThenFetchesOneChange) {
  EngineHarness harness(game_, ConfigUrls());
  ProgressState last = harness.RunToEnd();
  ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
  EXPECT_EQ(last.detailText, u"5 files updated");
  ExpectInstalled();
  EXPECT_EQ(PayloadRequests(), 10u);  // a HEAD and a GET each
  const std::string cache = test::ReadFileBytes(game_ / "EmbLauncher.cache");
  EXPECT_TRUE(cache.starts_with("EMBVC1\n"));
  EXPECT_EQ(std::count(cache.begin(), cache.end(), '\n'), 6);

  nginx_.ClearRequests();
  last = harness.RunToEnd();
  EXPECT_EQ(last.detailText, u"Up to date");
  EXPECT_EQ(PayloadRequests(), 0u);  // neither probes nor downloads
  EXPECT_EQ(nginx_.Requests().size(), 2u) << testing::PrintToString(nginx_.Requests());

  files_["data/maps/Town Hall.pak"] += "a patch later\n";
  Publish();
  nginx_.ClearRequests();
  last = harness.RunToEnd();
  EXPECT_EQ(last.detailText, u"1 file updated");
  ExpectInstalled();
  const std::vector<std::string> requests = nginx_.Requests();
  EXPECT_EQ(PayloadRequests(), 2u) << testing::PrintToString(requests);
  for (const std::string& line : requests) {
    if (line.find(".lz") != std::string::npos) {
      EXPECT_NE(line.find("/patch/2.0.1/data/maps/Town%20Hall.pak.lz 200"), std::string::npos) << line;
    }
  }
}

TEST_F(EngineNginxTest, AConfigurationServerWithAnUntrustedCertificateFallsBackToHttp) {
  test::SelfSignedTlsServer tls;
  ASSERT_TRUE(tls.started()) << tls.why_not();
  std::vector<std::u16string> urls = {tls.Url("/new/emb.launcher.config.xml")};
  urls.push_back(ConfigUrls()[0]);
  EngineHarness harness(game_, urls);
  const ProgressState last = harness.RunToEnd();
  ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
  ExpectInstalled();
  EXPECT_EQ(harness.slept(), std::chrono::milliseconds(3000));  // three https attempts first
}

}  // namespace
}  // namespace emberfall
