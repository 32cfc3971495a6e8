// The patch engine end to end against the loopback server: real HTTP, real
// files, real decoding; only the pauses between attempts are recorded
// instead of slept, so that retries cost no wall time.
#include "core/patch_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "core/crc32.h"
#include "core/fs_path.h"
#include "core/text.h"
#include "net/http_session.h"
#include "tests/support/engine_harness.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/stored_payload.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using namespace std::chrono_literals;
using test::EngineHarness;
using test::LoopbackHttpServer;
using test::Response;

class PatchEngineTest : public testing::Test {
 protected:
  void SetUp() override {
    files_ = {
        {"bin/game.exe", test::PatternBody(70000)},
        {"data/maps/Town Hall.pak", std::string(5000, 'x') + "end"},
        {"data/m\xC3\xBCzik/tema.txt", "ate\xC5\x9F ve k\xC3\xBCl\n"},
        {"empty.dat", ""},
    };
  }

  // Publishes files_ under /p/<version>/ and the document at /new/config.xml.
  void Publish(const std::string& crcpatch_url = "", const std::string& version = "1") {
    test::PublicationSettings settings;
    settings.crcpatch_url = crcpatch_url.empty() ? server_.UrlUtf8("/p") : crcpatch_url;
    settings.version = version;
    settings.config_path = "/new/config.xml";
    server_.ServeFiles(test::BuildPublication(settings, files_));
  }

  std::vector<std::u16string> ConfigUrls() { return {server_.Url("/new/config.xml")}; }

  void ExpectInstalled() {
    for (const auto& [path, contents] : files_) {
      SCOPED_TRACE(path);
      const std::string local = test::ReadFileBytes(game_ / path);
      EXPECT_EQ(local.size(), contents.size());
      EXPECT_TRUE(local == contents);  // no dump of binary contents
    }
  }

  // Waits (bounded) until the server has seen |count| requests for |path|.
  bool WaitForRequests(const std::string& path, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (server_.RequestCount(path) < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  size_t PayloadRequests(const std::string& method) {
    size_t n = 0;
    for (const test::RecordedRequest& r : server_.Requests()) {
      if (r.method == method && r.target.size() > 3 && r.target.ends_with(".lz")) ++n;
    }
    return n;
  }

  std::map<std::string, std::string> files_;
  test::TempDir game_;
  LoopbackHttpServer server_;
};

TEST_F(PatchEngineTest, InstallsIntoAnEmptyFolder) {
  Publish();
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  EXPECT_EQ(last.stage, 3u);
  EXPECT_TRUE(last.ready);
  EXPECT_EQ(last.statusText, u"READY TO PLAY");
  EXPECT_EQ(last.detailText, u"4 files updated");
  EXPECT_EQ(last.filesDone, 4);
  EXPECT_EQ(last.filesTotal, 4);
  EXPECT_EQ(last.overallPercent, 100u);
  EXPECT_EQ(last.filePercent, 100u);
  EXPECT_EQ(last.barText, u"");
  EXPECT_EQ(last.noteText, u"");
  EXPECT_EQ(last.runPath, u"bin\\game.exe");
  EXPECT_EQ(last.errorText, u"");
  ExpectInstalled();
  EXPECT_TRUE(harness.reports().empty());
  EXPECT_EQ(PayloadRequests("HEAD"), 4u);
  EXPECT_EQ(PayloadRequests("GET"), 4u);

  const std::string cache = test::ReadFileBytes(game_ / "EmbLauncher.cache");
  EXPECT_TRUE(cache.starts_with("EMBVC1\n"));
  EXPECT_EQ(std::count(cache.begin(), cache.end(), '\n'), 5);
  EXPECT_NE(cache.find(" data\\maps\\Town Hall.pak\n"), std::string::npos) << cache;
  EXPECT_FALSE(std::filesystem::exists(game_ / "bin/game.exe.emb-new"));
}

TEST_F(PatchEngineTest, ASecondRunFetchesNothing) {
  Publish();
  EngineHarness harness(game_, ConfigUrls());
  harness.RunToEnd();
  server_.ClearLog();
  const ProgressState last = harness.RunToEnd();
  EXPECT_TRUE(last.ready);
  EXPECT_EQ(last.detailText, u"Up to date");
  EXPECT_EQ(last.filesDone, 0);
  EXPECT_EQ(last.filesTotal, 0);
  EXPECT_EQ(PayloadRequests("HEAD") + PayloadRequests("GET"), 0u);
  // Configuration and list only, each once.
  EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(PatchEngineTest, FetchesOnlyWhatChanged) {
  Publish();
  EngineHarness harness(game_, ConfigUrls());
  harness.RunToEnd();
  test::WriteFileBytes(game_ / "data/maps/Town Hall.pak", "damaged");
  std::filesystem::remove(game_ / "empty.dat");
  server_.ClearLog();
  const ProgressState last = harness.RunToEnd();
  EXPECT_EQ(last.detailText, u"2 files updated");
  ExpectInstalled();
  EXPECT_EQ(server_.RequestCount("/p/1/data/maps/Town%20Hall.pak.lz"), 2u);  // HEAD + GET
  EXPECT_EQ(server_.RequestCount("/p/1/empty.dat.lz"), 2u);
  EXPECT_EQ(PayloadRequests("GET"), 2u);
  test::WriteFileBytes(game_ / "empty.dat", "x");
  EXPECT_EQ(harness.RunToEnd().detailText, u"1 file updated");
}

TEST_F(PatchEngineTest, RetriesAPayloadThatArrivesCorruptAfterOneAndTwoSeconds) {
  Publish();
  const std::string good = test::StoredPayload(files_["bin/game.exe"]);
  std::string corrupt = good;
  corrupt[corrupt.size() / 2] ^= 0x55;  // a literal byte: decodes, wrong checksum
  server_.ServeSequence("/p/1/bin/game.exe.lz",
                        {Response::Ok(corrupt), Response::Ok(corrupt), Response::Ok(good)});
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  EXPECT_TRUE(last.ready) << WideToUtf8(last.errorText);
  ExpectInstalled();
  EXPECT_EQ(harness.slept(), 3000ms);

  std::vector<test::RecordedRequest> gets;
  for (const test::RecordedRequest& r : server_.Requests()) {
    if (r.method == "GET" && r.target == "/p/1/bin/game.exe.lz") gets.push_back(r);
  }
  ASSERT_EQ(gets.size(), 3u);
  // Later attempts ask caches for a fresh copy.
  EXPECT_FALSE(gets[0].Header("Pragma").has_value());
  EXPECT_EQ(gets[1].Header("Pragma"), std::optional<std::string>("no-cache"));
  EXPECT_EQ(gets[2].Header("Pragma"), std::optional<std::string>("no-cache"));
}

TEST_F(PatchEngineTest, FailsWithTheLastAttemptsReason) {
  Publish();
  server_.Serve("/p/1/empty.dat.lz", Response::Status(404));
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  const std::string url = server_.UrlUtf8("/p/1/empty.dat.lz");
  EXPECT_EQ(last.stage, 4u);
  EXPECT_FALSE(last.ready);
  EXPECT_EQ(WideToUtf8(last.errorText), "Download failed | " + url + " | HTTP 404");
  EXPECT_EQ(last.statusText,
            u"A file could not be downloaded. Check your connection and try again.");
  EXPECT_EQ(last.barText, u"");
  EXPECT_EQ(harness.reports(),
            std::vector<std::string>{"Download failed | " + url + " | HTTP 404 || patch"});
  EXPECT_EQ(server_.RequestCount("/p/1/empty.dat.lz"), 4u);  // a probe and three attempts
  EXPECT_EQ(harness.slept(), 3000ms);
}

TEST_F(PatchEngineTest, ReportsAChecksumMismatchWithBothValues) {
  files_["empty.dat"] = "not empty";
  Publish();
  // The published list says the file is "not empty"; serve other bytes.
  server_.Serve("/p/1/empty.dat.lz", Response::Ok(test::StoredPayload("NOT EMPTY")));
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  char expected[64];
  std::snprintf(expected, sizeof(expected), "expected=%08x got=%08x",
                Crc32Buffer("not empty", 9), Crc32Buffer("NOT EMPTY", 9));
  EXPECT_EQ(WideToUtf8(last.errorText),
            "Checksum mismatch | " + server_.UrlUtf8("/p/1/empty.dat.lz") + " | " + expected);
  EXPECT_EQ(last.statusText, u"A downloaded file is corrupted or incomplete.");
}

TEST_F(PatchEngineTest, ReportsADecodingFailureOfTheLastAttempt) {
  Publish();
  server_.Serve("/p/1/empty.dat.lz", Response::Ok("MCO"));
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  EXPECT_EQ(WideToUtf8(last.errorText),
            "Decompress failed | " + server_.UrlUtf8("/p/1/empty.dat.lz") + " | LZ payload too small");
  EXPECT_EQ(last.statusText, u"A patch file could not be unpacked. Please try again.");
}

TEST_F(PatchEngineTest, ListsEveryConfigurationUrlWhenNoneAnswers) {
  test::TempDir unused;
  std::uint16_t closed_port = 0;
  {
    LoopbackHttpServer gone;
    closed_port = gone.port();
  }  // nobody listens there any more
  const std::string a = "http://127.0.0.1:" + std::to_string(closed_port) + "/a.xml";
  const std::string b = "http://127.0.0.1:" + std::to_string(closed_port) + "/b.xml";
  EngineHarness harness(game_, {Utf8ToWide(a), Utf8ToWide(b)});
  const ProgressState last = harness.RunToEnd();
  const std::string reason = "WinHTTP connect: cannot connect (12029)";
  EXPECT_EQ(WideToUtf8(last.errorText), "Could not load torrent config | " + a + " | " + reason +
                                            " || " + b + " | " + reason);
  EXPECT_EQ(last.statusText,
            u"Could not connect to the patch server. Check your internet connection.");
  // Three attempts per URL; the pauses start again from 1 s at the second URL.
  EXPECT_EQ(harness.slept(), 6000ms);
}

TEST_F(PatchEngineTest, FallsBackFromHttpsToHttpForTheListAndEveryPayload) {
  // The https base points at the plain server: TLS cannot work there.
  Publish(std::string("https://127.0.0.1:") + std::to_string(server_.port()) + "/p");
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  EXPECT_TRUE(last.ready) << WideToUtf8(last.errorText);
  ExpectInstalled();
  EXPECT_EQ(harness.slept(), 3000ms);  // three https attempts at the list
  EXPECT_EQ(PayloadRequests("GET"), 4u);
}

TEST_F(PatchEngineTest, AnEmptyListFails) {
  server_.ServeFiles({{"/new/config.xml", test::ConfigDocument(server_.UrlUtf8("/p"), "1")},
                      {"/p/1/crclist", "\xEF\xBB\xBF# nothing published\n\n"}});
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  EXPECT_EQ(WideToUtf8(last.errorText), "Empty crclist | " + server_.UrlUtf8("/p/1/crclist"));
  EXPECT_EQ(last.statusText, u"The update list is empty. Please contact support.");
}

TEST_F(PatchEngineTest, AnInvalidConfigurationFailsWithItsOwnText) {
  server_.ServeFiles({{"/new/config.xml", "<torrent_config run_path=\"..\\x.exe\"/>"}});
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  EXPECT_EQ(last.errorText, u"Invalid torrent config | unsafe run_path: ..\\x.exe");
  EXPECT_EQ(last.statusText, u"Patch configuration is incomplete. Please contact support.");
  EXPECT_EQ(harness.slept(), 0ms);
}

TEST_F(PatchEngineTest, CorrectsTotalsWhenTheSizeProbeFails) {
  Publish();
  const std::string payload = test::StoredPayload(files_["bin/game.exe"]);
  // HEAD and GET are scripted apart: the probe fails, the download works.
  server_.ServeSequence("/p/1/bin/game.exe.lz", {Response::Ok(payload)});
  server_.Serve("/p/1/data/maps/Town%20Hall.pak.lz", Response::WithoutLength(
                                                        test::StoredPayload(files_["data/maps/Town Hall.pak"])));
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
  std::int64_t published = 0;
  for (const auto& [path, contents] : files_) {
    published += static_cast<std::int64_t>(test::StoredPayload(contents).size());
  }
  EXPECT_EQ(last.bytesTotal, published);
  EXPECT_EQ(last.bytesDone, published);
}

TEST_F(PatchEngineTest, AnAbsurdProbedLengthCountsAsTheEstimate) {
  files_ = {{"a.bin", test::PatternBody(40000)}, {"b.bin", test::PatternBody(20000)}};
  for (const char* announced : {"9223372036854775807", "99999999999999999999"}) {
    SCOPED_TRACE(announced);
    test::TempDir game;
    Publish();
    std::int64_t published = 0;
    for (const auto& [path, contents] : files_) {
      Response r = Response::Ok(test::StoredPayload(contents));
      r.head_content_length = announced;
      server_.Serve("/p/1/" + path + ".lz", r);
      published += static_cast<std::int64_t>(r.body.size());
    }
    EngineHarness harness(game, ConfigUrls());
    const ProgressState last = harness.RunToEnd();
    ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
    const std::vector<ProgressState> snapshots = harness.snapshots();
    const auto first_download = std::find_if(snapshots.begin(), snapshots.end(),
                                              [](const ProgressState& s) { return s.stage == 1; });
    ASSERT_NE(first_download, snapshots.end());
    // Stored payloads are larger than their files: the estimate is a quarter
    // of each file.
    EXPECT_EQ(first_download->bytesTotal, 40000 / 4 + 20000 / 4);
    EXPECT_EQ(last.bytesTotal, published);
  }
}

// A size that no payload can decode to fails as decoding would, but before
// any request for the file: no probe, no download, no pause.
TEST_F(PatchEngineTest, RefusesAnUndecodableSizeBeforeFetchingAnything) {
  for (const std::string size : {"4294967296", "9223372036854775807"}) {
    SCOPED_TRACE(size);
    server_.ServeFiles({{"/new/config.xml", test::ConfigDocument(server_.UrlUtf8("/p"), "1")},
                        {"/p/1/crclist", "00000000 " + size + " 10 0 huge.bin\n"}});
    server_.Serve("/p/1/huge.bin.lz", Response::WithoutLength(test::PatternBody(100000)));
    server_.ClearLog();
    EngineHarness harness(game_, ConfigUrls());
    const ProgressState last = harness.RunToEnd();
    EXPECT_EQ(WideToUtf8(last.errorText), "Unpack size mismatch | " +
                                              server_.UrlUtf8("/p/1/huge.bin.lz") +
                                              " | unsupported size " + size);
    EXPECT_EQ(PayloadRequests("HEAD") + PayloadRequests("GET"), 0u);
    EXPECT_EQ(harness.slept(), 0ms);
  }
}

TEST_F(PatchEngineTest, PublishesProgressInOrder) {
  Publish();
  EngineHarness harness(game_, ConfigUrls());
  harness.RunToEnd();
  const std::vector<ProgressState> snapshots = harness.snapshots();
  ASSERT_GE(snapshots.size(), 3u);
  // Verification ends with its own summary before any download.
  auto verified = std::find_if(snapshots.begin(), snapshots.end(), [](const ProgressState& s) {
    return s.detailText == u"Verifying files 4 / 4";
  });
  ASSERT_NE(verified, snapshots.end());
  EXPECT_EQ(verified->stage, 0u);
  EXPECT_EQ(verified->overallPercent, 100u);
  std::uint32_t last_stage = 0;
  std::int64_t last_done = 0;
  for (auto it = verified + 1; it != snapshots.end(); ++it) {
    EXPECT_GE(it->bytesDone, last_done);
    last_done = it->bytesDone;
    if (it->stage == 1) {
      EXPECT_EQ(it->statusText, u"DOWNLOADING...");
    } else if (it->stage == 2) {
      EXPECT_EQ(it->statusText, u"UNPACKING...");
    }
    EXPECT_LE(it->overallPercent, 100u);
    last_stage = it->stage;
  }
  EXPECT_EQ(last_stage, 3u);
}

TEST_F(PatchEngineTest, ShowsTheSpeedWhileASlowDownloadRuns) {
  files_ = {{"slow.bin", test::PatternBody(60000)}};
  Publish();
  const std::string payload = test::StoredPayload(files_["slow.bin"]);
  server_.Serve("/p/1/slow.bin.lz", Response::Trickle(payload, 6000, 100ms));
  EngineHarness harness(game_, ConfigUrls());
  const ProgressState last = harness.RunToEnd();
  ASSERT_TRUE(last.ready);
  bool saw_speed = false;
  for (const ProgressState& s : harness.snapshots()) {
    if (!s.barText.empty()) {
      saw_speed = true;
      EXPECT_TRUE(s.barText.ends_with(u"/s")) << WideToUtf8(s.barText);
      EXPECT_TRUE(s.stage == 1u || s.stage == 2u);
    }
  }
  EXPECT_TRUE(saw_speed);
  EXPECT_EQ(last.barText, u"");
}

TEST_F(PatchEngineTest, CancellingDuringAPauseReportsNothing) {
  Publish();
  server_.Serve("/p/1/empty.dat.lz", Response::Status(500));
  EngineHarness harness(game_, ConfigUrls());
  std::atomic<bool> paused{false};
  harness.OnPause([&] {
    harness.engine().RequestCancel();
    paused = true;
  });
  harness.engine().Start();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!paused && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(paused);
  EXPECT_TRUE(harness.engine().StopAndWait(20000));
  EXPECT_TRUE(harness.reports().empty());
  for (const ProgressState& s : harness.snapshots()) EXPECT_LT(s.stage, 3u);
  EXPECT_EQ(harness.slept(), 100ms);  // stopped before the second slice
}

TEST_F(PatchEngineTest, StopAndWaitGivesUpWhileARequestHangs) {
  server_.Serve("/new/config.xml", Response::Stall(4500ms));
  EngineHarness harness(game_, ConfigUrls());
  harness.engine().Start();
  ASSERT_TRUE(WaitForRequests("/new/config.xml", 1));  // the worker now waits on the network
  const auto start = std::chrono::steady_clock::now();
  // The shutdown wait of the launcher.
  EXPECT_FALSE(harness.engine().StopAndWait(3000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2900ms);
  // Once the server lets go, the worker ends without reporting.
  EXPECT_TRUE(harness.engine().StopAndWait(20000));
  EXPECT_TRUE(harness.reports().empty());
}

TEST_F(PatchEngineTest, StartAfterAFailedRunBeginsAgainFromTheConfiguration) {
  server_.Serve("/new/config.xml", Response::Status(503));
  EngineHarness harness(game_, ConfigUrls());
  ProgressState last = harness.RunToEnd();
  EXPECT_EQ(last.stage, 4u);
  EXPECT_NE(last.errorText, u"");
  Publish();
  last = harness.RunToEnd();
  EXPECT_TRUE(last.ready) << WideToUtf8(last.errorText);
  const std::vector<ProgressState> snapshots = harness.snapshots();
  ASSERT_FALSE(snapshots.empty());
  EXPECT_EQ(snapshots.front().errorText, u"");  // nothing of the failed run remains
  EXPECT_EQ(snapshots.front().stage, 0u);
  ExpectInstalled();
}

TEST_F(PatchEngineTest, RemovesLeftoversOfEarlierRuns) {
  Publish();
  test::WriteFileBytes(game_ / "launcher.exe.old", "old image");
  test::WriteFileBytes(game_ / "empty.dat.emb-new", "half written");
  std::filesystem::permissions(game_ / "empty.dat.emb-new", std::filesystem::perms::owner_read);
  EngineHarness harness(game_, ConfigUrls());
  EXPECT_TRUE(harness.RunToEnd().ready);
  EXPECT_FALSE(std::filesystem::exists(game_ / "launcher.exe.old"));
  EXPECT_FALSE(std::filesystem::exists(game_ / "empty.dat.emb-new"));
}

// Several connections: payloads trickle, so transfers overlap unless the
// memory budget keeps each job alone.
class ConnectionsTest : public PatchEngineTest {
 protected:
  void PublishTrickled(int count, std::chrono::milliseconds pause) {
    files_.clear();
    for (int i = 0; i < count; ++i) {
      files_["f" + std::to_string(i) + ".bin"] = test::PatternBody(8000 + static_cast<size_t>(i));
    }
    Publish();
    for (const auto& [path, contents] : files_) {
      server_.Serve("/p/1/" + path + ".lz", Response::Trickle(test::StoredPayload(contents), 1000, pause));
    }
  }
  static std::function<void(PatchEngineOptions&)> With(unsigned connections, std::int64_t budget) {
    return [=](PatchEngineOptions& o) {
      o.connections = connections;
      o.transferBudgetBytes = budget;
    };
  }
  bool AnyStagedFile() {
    for (const auto& item : std::filesystem::recursive_directory_iterator(game_.path())) {
      if (item.path().string().ends_with(".emb-new")) return true;
    }
    return false;
  }
};

TEST_F(ConnectionsTest, TransfersOverlapWithinTheBudgetAndAJobPastItRunsAlone) {
  PublishTrickled(12, 10ms);
  struct Case {
    std::int64_t budget;
    bool overlap;
  };
  for (const Case c : {Case{128 * 1048576, true}, Case{1, false}}) {
    SCOPED_TRACE(c.budget);
    std::filesystem::remove_all(game_.path());
    server_.ClearLog();
    EngineHarness harness(game_, ConfigUrls(), {}, With(6, c.budget));
    const ProgressState last = harness.RunToEnd();
    ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
    ExpectInstalled();
    EXPECT_EQ(last.filesDone, 12);
    EXPECT_EQ(last.bytesDone, last.bytesTotal);
    EXPECT_EQ(PayloadRequests("HEAD"), 12u);
    EXPECT_EQ(PayloadRequests("GET"), 12u);
    EXPECT_EQ(server_.MaxGetsInFlight() > 1, c.overlap) << server_.MaxGetsInFlight();
    for (const ProgressState& s : harness.snapshots()) ASSERT_LE(s.bytesDone, s.bytesTotal);
  }
}

// A later job that fails first in time is not the one reported: the run
// waits for the jobs before it, and jobs that finished stay applied.
TEST_F(ConnectionsTest, TheFirstFailingJobInListOrderIsReported) {
  PublishTrickled(8, 1ms);
  server_.Serve("/p/1/f2.bin.lz", Response::Stall(300ms));
  server_.Serve("/p/1/f5.bin.lz", Response::Status(404));
  EngineHarness harness(game_, ConfigUrls(), {}, With(6, 128 * 1048576));
  const ProgressState last = harness.RunToEnd();
  EXPECT_EQ(last.stage, 4u);
  EXPECT_TRUE(WideToUtf8(last.errorText).starts_with("Download failed | " + server_.UrlUtf8("/p/1/f2.bin.lz") + " | "))
      << WideToUtf8(last.errorText);
  EXPECT_EQ(harness.reports().size(), 1u);
  for (const char* applied : {"f0.bin", "f1.bin"}) {
    EXPECT_EQ(test::ReadFileBytes(game_ / applied), files_[applied]) << applied;
  }
  EXPECT_FALSE(std::filesystem::exists(game_ / "f6.bin"));  // never started
  EXPECT_FALSE(AnyStagedFile());
}

TEST_F(ConnectionsTest, CancelStopsEveryTransferAndLeavesNoStagedFile) {
  PublishTrickled(8, 500ms);  // about four seconds a file
  EngineHarness harness(game_, ConfigUrls(), {}, With(6, 128 * 1048576));
  harness.engine().Start();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (PayloadRequests("GET") < 6 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(PayloadRequests("GET"), 6u);
  EXPECT_TRUE(harness.engine().StopAndWait(3000));
  EXPECT_TRUE(harness.reports().empty());
  EXPECT_FALSE(AnyStagedFile());
  EXPECT_EQ(PayloadRequests("GET"), 6u);  // nothing started after the cancel
}

TEST_F(PatchEngineTest, TheEnvironmentRedirectsThePublishedFiles) {
  Publish("http://127.0.0.1:9/nowhere");  // the document points elsewhere
  test::PublicationSettings mirror;  // the same files under /mirror/1/
  mirror.crcpatch_url = server_.UrlUtf8("/mirror");
  mirror.config_path = "/unused.xml";
  server_.ServeFiles(test::BuildPublication(mirror, files_));
  test::ScopedEnvironmentVariable redirect("EMBERFALL_PATCH_URL", server_.UrlUtf8("/mirror"));
  EngineHarness harness(game_, ConfigUrls());
  EXPECT_TRUE(harness.RunToEnd().ready);
  ExpectInstalled();
}

}  // namespace
}  // namespace emberfall
