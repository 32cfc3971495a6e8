// The patch engine end to end against the loopback server: real HTTP, real
// files, real decoding.
#include "engine/patch_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "core/fs_path.h"
#include "core/text.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::EngineHarness;
using test::Response;

const std::map<std::string, std::string> kFiles = {
    {"bin/game.exe", test::PatternBody(70000)},
    {"data/maps/Town Hall.pak", std::string(5000, 'x') + "end"},
    {"data/m\xC3\xBCzik/tema.txt", "ate\xC5\x9F ve k\xC3\xBCl\n"},
    {"empty.dat", ""},
};

class PatchEngineTest : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
  // A fresh server publishing |files| under /p/1/, and an empty game folder.
  void Reset(const std::map<std::string, std::string>& files = kFiles) {
    server_.emplace();
    game_.emplace();
    env_.reset();
    files_ = files;
    urls_ = {server_->Url("/c.xml")};
    Publish();
  }
  void Publish(const std::string& crcpatch_url = "") {
    const std::string base = crcpatch_url.empty() ? Url("/p") : crcpatch_url;
    server_->ServeFiles(test::BuildPublication(base, files_));
  }
  std::string Url(const char* path) const { return server_->UrlUtf8(path); }
  fs::path Game(const std::string& path = "") const {
    return game_->path() / FsPathFromUtf8(path);
  }
  size_t Requests(const std::string& method) const {  // of payloads
    const std::vector<test::RecordedRequest> all = server_->Requests();
    return std::count_if(all.begin(), all.end(),
                         [&](auto& r) { return r.method == method && r.target.ends_with(".lz"); });
  }

  // The run in one line: its summary or failure, its pauses, the payload
  // requests the server saw and a first total that downloads corrected.
  std::string Outcome(EngineHarness& harness, const ProgressState& last) {
    std::string text = WideToUtf8(last.ready ? last.detailText : last.errorText) + " | slept " +
                       std::to_string(harness.slept.count()) + " | HEAD " +
                       std::to_string(Requests("HEAD")) + " GET " + std::to_string(Requests("GET"));
    const auto first = std::ranges::find(harness.snapshots, PatchStage::Download, &ProgressState::stage);
    if (first != harness.snapshots.end() && first->bytesTotal != last.bytesTotal) {
      text += " | estimated " + std::to_string(first->bytesTotal);
    }
    const std::string url = Url("");
    for (size_t at; (at = text.find(url)) != std::string::npos;) text.replace(at, url.size(), "$U");
    return text;
  }

  // What every run keeps to, whatever happened in it.
  void ExpectConsistent(EngineHarness& harness, const ProgressState& last) {
    bool verified = false;
    std::int64_t done = 0;
    for (const ProgressState& s : harness.snapshots) {
      // Verification ends with its own summary before any download.
      verified |= s.stage == PatchStage::Verify && s.overallPercent == 100 && s.detailText.starts_with(u"Verifying");
      const bool moving = s.stage == PatchStage::Download || s.stage == PatchStage::Unpack;
      EXPECT_TRUE(verified || !moving);
      EXPECT_TRUE(!moving || s.statusText == (s.stage == PatchStage::Download ? u"DOWNLOADING..." : u"UNPACKING..."));
      // The speed shows while payloads move only.
      EXPECT_TRUE(s.barText.empty() || (moving && s.barText.ends_with(u"/s")));
      EXPECT_LE(s.overallPercent, 100u);
      EXPECT_TRUE(&s == &harness.snapshots.back() || s.errorText.empty());  // nor an earlier run's
      EXPECT_TRUE(s.bytesDone >= done || harness.slept > 0ms);  // a retry starts a file again
      done = s.bytesDone;
    }
    std::map<std::string, int> gets;
    for (const test::RecordedRequest& r : server_->Requests()) {
      if (r.method != "GET" || !r.target.ends_with(".lz")) continue;
      // Later attempts ask caches for a fresh copy.
      EXPECT_EQ(r.Header("Pragma") == "no-cache", gets[r.target]++ > 0) << r.target;
    }
    ExpectNothingStaged(last.ready);
    const std::string report = WideToUtf8(last.errorText) + " || patch";
    EXPECT_EQ(harness.reports, last.ready ? std::vector<std::string>() : std::vector{report});
    EXPECT_EQ(last.stage, last.ready ? PatchStage::Done : PatchStage::Failed);
    if (!last.ready) return;
    EXPECT_EQ(last.statusText, u"READY TO PLAY");
    EXPECT_EQ(last.bytesDone, last.bytesTotal);
    std::int64_t published = 0;
    for (const auto& [path, contents] : files_) {
      EXPECT_TRUE(test::ReadFileBytes(Game(path)) == contents) << path;  // no dump of the bytes
      published += static_cast<std::int64_t>(test::StoredPayload(contents).size());
    }
    // The bytes shown count what came over the network: not what was resumed.
    EXPECT_TRUE(last.filesDone < std::ssize(files_) || last.bytesTotal + last.bytesResumed == published);
  }
  // Several connections: payloads trickle, so transfers overlap unless the
  // memory budget holds them back.
  void PublishTrickled(int count, std::chrono::milliseconds pause) {
    files_.clear();
    for (int i = 0; i < count; ++i) {
      files_["f" + std::to_string(i) + ".bin"] = test::PatternBody(8000 + static_cast<size_t>(i));
    }
    Publish();
    for (const auto& [path, contents] : files_) {
      const std::string payload = test::StoredPayload(contents);
      server_->Serve("/p/1/" + path + ".lz", Response::Trickle(payload, 1000, pause));
    }
  }
  static std::function<void(PatchEngineOptions&)> With(std::int64_t budget) {
    return [=](PatchEngineOptions& o) {
      o.connections = 6;
      o.transferBudgetBytes = budget;
    };
  }
  // A failed run may leave the part of a payload for the next one.
  void ExpectNothingStaged(bool parts_too = true) {
    for (const auto& item : fs::recursive_directory_iterator(Game())) {
      const std::string name = item.path().string();
      EXPECT_FALSE(name.ends_with(".emb-new")) << item.path();
      EXPECT_FALSE(parts_too && name.find(".emb-part") != std::string::npos) << item.path();
    }
  }

  std::map<std::string, std::string> files_;
  std::optional<test::TempDir> game_;
  std::optional<test::LoopbackHttpServer> server_;
  std::vector<std::u16string> urls_;
  std::optional<test::ScopedEnvironmentVariable> env_;
};

TEST_F(PatchEngineTest, Outcomes) {
  const std::string closed = test::LoopbackHttpServer().UrlUtf8("");  // its port is free again
  const auto serve = [this](const char* path, Response response) {
    return [=, this] { server_->Serve(path, response); };
  };
  std::string corrupt = test::StoredPayload(kFiles.at("bin/game.exe"));
  corrupt[corrupt.size() / 2] ^= 0x55;  // a literal byte: decodes, wrong checksum
  const std::string installed = "4 files updated | slept ";
  const std::string load = "Could not load torrent config | ";
  struct Case {
    const char* name;
    std::function<void()> setup;
    std::string outcome;
    bool shows_speed = false;
  } cases[] = {
      {"into an empty folder", nullptr, installed + "0 | HEAD 4 GET 4"},
      {"corrupt twice, then good",
       [&] {
         const Response good = Response::Ok(test::StoredPayload(kFiles.at("bin/game.exe")));
         server_->ServeSequence("/p/1/bin/game.exe.lz",
                                {Response::Ok(corrupt), Response::Ok(corrupt), good});
       },
       installed + "3000 | HEAD 4 GET 6"},
      {"a payload missing", serve("/p/1/empty.dat.lz", Response::Status(404)),
       "Download failed | $U/p/1/empty.dat.lz | HTTP 404 | slept 3000 | HEAD 4 GET 6"},
      {"other bytes than listed",
       [this] {
         files_["empty.dat"] = "not empty";
         Publish();
         server_->Serve("/p/1/empty.dat.lz", Response::Ok(test::StoredPayload("NOT EMPTY")));
       },
       "Checksum mismatch | $U/p/1/empty.dat.lz | expected=ca0dc758 got=8963dc81 | slept 3000 | "
       "HEAD 4 GET 6"},
      {"an undecodable payload", serve("/p/1/empty.dat.lz", Response::Ok("MCO")),
       "Decompress failed | $U/p/1/empty.dat.lz | LZ payload too small | slept 3000 | "
       "HEAD 4 GET 6"},
      {"https refused", [this] { Publish("https" + Url("/p").substr(4)); },
       installed + "3000 | HEAD 4 GET 4"},
      {"redirected by the environment",
       [this] {
         server_->ServeFiles(test::BuildPublication(Url("/mirror"), files_));
         Publish("http://127.0.0.1:9/nowhere");
         env_.emplace("EMBERFALL_PATCH_URL", Url("/mirror"));
       },
       installed + "0 | HEAD 4 GET 4"},
      {"no configuration answers",
       [&] { urls_ = {Utf8ToWide(closed + "/a.xml"), Utf8ToWide(closed + "/b.xml")}; },
       load + closed + "/a.xml | WinHTTP connect: cannot connect (12029) || " + closed +
           "/b.xml | WinHTTP connect: cannot connect (12029) | slept 6000 | HEAD 0 GET 0"},
      {"configuration over 1 MiB",
       [this] {
         std::string big = test::BuildPublication(Url("/p"), {}).at("/c.xml");
         big.resize(1048577, ' ');  // valid XML, one byte too many
         server_->Serve("/c.xml", Response::Ok(big));
       },
       load + "$U/c.xml | response too large (1048577 bytes) | slept 3000 | HEAD 0 GET 0"},
      {"unsafe run path", serve("/c.xml", Response::Ok("<torrent_config run_path=\"..\\x.exe\"/>")),
       "Invalid torrent config | unsafe run_path: ..\\x.exe | slept 0 | HEAD 0 GET 0"},
      {"an empty list",
       [this] { server_->ServeFiles({{"/p/1/crclist", "\xEF\xBB\xBF# nothing published\n\n"}}); },
       "Empty crclist | $U/p/1/crclist | slept 0 | HEAD 0 GET 0"},
      {"the largest size",
       [this] { server_->ServeFiles({{"/p/1/crclist", "0 9223372036854775807 10 0 huge.bin\n"}}); },
       "Unpack size mismatch | $U/p/1/huge.bin.lz | unsupported size 9223372036854775807 | "
       "slept 0 | HEAD 0 GET 0"},
      {"an absurd probed length",
       [this] {
         Response r = Response::Ok(test::StoredPayload(kFiles.at("bin/game.exe")));
         r.head_content_length = "9223372036854775807";  // estimated instead
         server_->Serve("/p/1/bin/game.exe.lz", r);
       },
       installed + "0 | HEAD 4 GET 4 | estimated 22608"},
      {"a probe without a length",
       serve("/p/1/data/maps/Town%20Hall.pak.lz",
             Response::WithoutLength(test::StoredPayload(kFiles.at("data/maps/Town Hall.pak")))),
       installed + "0 | HEAD 4 GET 4 | estimated 71610"},
      {"a slow download", [this] { PublishTrickled(1, 150ms); },  // over a second
       "1 file updated | slept 0 | HEAD 1 GET 1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    if (c.setup) c.setup();
    EngineHarness harness(Game(), urls_);
    const ProgressState last = harness.RunToEnd();
    EXPECT_EQ(Outcome(harness, last), c.outcome);
    ExpectConsistent(harness, last);
    const auto speed = [](const ProgressState& s) { return !s.barText.empty(); };
    EXPECT_TRUE(!c.shows_speed || std::ranges::any_of(harness.snapshots, speed));
  }
}

// The volume's free bytes are asked before the downloads: too few fail the
// run before any payload request, with both amounts; an unknown figure
// checks nothing. Every file is new, and one job at a time holds at most
// the part bound of the largest (70000 + 70000 / 16 + 87) beside them.
TEST_F(PatchEngineTest, ARunThatWouldNotFitFailsBeforeItDownloads) {
  std::int64_t needed = 70000 + 4375 + 87;
  for (const auto& [path, contents] : kFiles) needed += static_cast<std::int64_t>(contents.size());
  for (const std::optional<std::int64_t> free : {std::optional(needed - 1), std::optional(needed),
                                                 std::optional<std::int64_t>()}) {
    Reset();
    EngineHarness harness(Game(), urls_, [&](PatchEngineOptions& o) {
      o.freeSpace = [&](const std::u16string& folder) { return folder == WidePath(Game()) ? free : 0; };
    });
    const ProgressState last = harness.RunToEnd();
    ExpectConsistent(harness, last);
    const bool fits = free != needed - 1;
    const std::string outcome = Outcome(harness, last);
    EXPECT_EQ(outcome.substr(outcome.find(fits ? " | slept" : "needed=")),
              fits ? " | slept 0 | HEAD 4 GET 4"
                   : "needed=" + std::to_string(needed) + " free=" + std::to_string(needed - 1) +
                         " | slept 0 | HEAD 0 GET 0");
    EXPECT_EQ(WideToUtf8(last.statusText),
              fits ? "READY TO PLAY" : "Not enough disk space: 146.0 kB needed, 146.0 kB free. "
                                       "Free up space and try again.");
  }
}

// A payload that breaks off goes on from where it stopped, in the next
// attempt or the next run, where the server honours Range; it starts over
// where the server does not, or where the part is of another release.
TEST_F(PatchEngineTest, AnInterruptedPayloadResumes) {
  const std::string target = "/p/1/bin/game.exe.lz";
  const std::string payload = test::StoredPayload(kFiles.at("bin/game.exe"));
  const size_t n = payload.size(), q = (n + 3) / 4;  // three drops of q leave at most q
  const auto from = [&](size_t first) {
    return "bytes=" + std::to_string(first) + "-" + std::to_string(n - 1);
  };
  std::string damaged = payload;
  damaged[n * 3 / 4] ^= 0x55;
  // The replies in turn, the last repeating: D drops the connection after
  // |drop| body bytes, W is whole, C damaged. "|": a second run; "|N": of a
  // new release. Then the Range headers of the payload's GETs, run by run.
  const std::tuple<const char*, size_t, bool, std::string, std::vector<std::string>> cases[] = {
      {"after one byte", 1, true, "DW", {"", from(1)}},
      {"half way", n / 2, true, "DW", {"", from(n / 2)}},
      {"before the last byte", n - 1, true, "DW", {"", from(n - 1)}},
      {"a server without ranges", n / 2, false, "DW", {"", from(n / 2), ""}},
      {"a resumed payload that fails its checksum", n / 2, true, "DCW", {"", from(n / 2), ""}},
      {"in every attempt: the next run goes on", q, true, "D|",
       {"", from(q), from(2 * q), "|", from(3 * q)}},
      {"a part of another release", q, true, "D|N", {"", from(q), from(2 * q), "|", ""}},
  };
  for (const auto& [name, drop, ranges, replies, expected] : cases) {
    SCOPED_TRACE(name);
    Reset();
    std::vector<Response> sequence;
    for (const char r : replies.substr(0, replies.find('|'))) {
      sequence.push_back({.body = r == 'C' ? damaged : payload,
                          .fault = r == 'D' ? Response::Fault::kCloseAfter : Response::Fault::kNone,
                          .fault_after = drop, .ranges = ranges});
    }
    server_->ServeSequence(target, sequence);
    EngineHarness harness(Game(), urls_);
    const bool twice = replies.find('|') != std::string::npos;
    std::vector<std::string> seen;
    for (int run = 0; run < 1 + twice; ++run) {
      if (run == 1) {
        seen.push_back("|");
        server_->ClearLog();
      }
      if (run == 1 && replies.ends_with('N')) {
        files_["bin/game.exe"] = test::PatternBody(90000);  // a payload the part would fit in
        Publish();
      }
      const ProgressState last = harness.RunToEnd();
      EXPECT_EQ(last.ready, run == 1 || !twice) << WideToUtf8(last.errorText);
      ExpectConsistent(harness, last);
      std::string range;  // of the run's last request: where the installed payload went on
      for (const test::RecordedRequest& r : server_->Requests()) {
        if (r.method != "GET" || r.target != target) continue;
        seen.push_back(range = r.Header("Range").value_or(""));
      }
      if (last.ready) {
        EXPECT_EQ(last.bytesResumed, range.empty() ? 0 : std::stoll(range.substr(6)));
      }
    }
    EXPECT_EQ(seen, expected);
  }
}

TEST_F(PatchEngineTest, LaterRunsFetchOnlyWhatChanged) {
  EngineHarness harness(Game(), urls_);
  const std::string image = test::ReadFileBytes(test::BuiltProgram("test_sleeper"));
  std::unique_ptr<test::ChildProcess> running;
  const struct {
    const char* name;
    std::function<void()> change;
    std::string outcome;
  } steps[] = {
      {"unavailable", [&] { server_->Serve("/c.xml", Response::Status(503)); },
       "Could not load torrent config | $U/c.xml | HTTP 503 | slept 3000 | HEAD 0 GET 0"},
      {"after a failed run", [&] { Publish(); }, "4 files updated | slept 0 | HEAD 4 GET 4"},
      {"again", nullptr, "Up to date | slept 0 | HEAD 0 GET 0"},
      {"one damaged, one gone",
       [&] {
         test::WriteFileBytes(Game("data/maps/Town Hall.pak"), "damaged");
         fs::remove(Game("empty.dat"));
       },
       "2 files updated | slept 0 | HEAD 2 GET 2"},
      {"one changed", [&] { test::WriteFileBytes(Game("empty.dat"), "x"); },
       "1 file updated | slept 0 | HEAD 1 GET 1"},
      {"leftovers of earlier runs",
       [&] {
         test::WriteFileBytes(Game("launcher.exe.old"), "old image");
         test::WriteFileBytes(Game("empty.dat.emb-new"), "half written");
         fs::permissions(Game("empty.dat.emb-new"), fs::perms::owner_read);
       },
       "Up to date | slept 0 | HEAD 0 GET 0"},
      // Windows will not overwrite a running program: the apply moves it aside.
      {"the running launcher",
       [&] {
         fs::copy_file(test::BuiltProgram("test_sleeper"), Game("launcher.exe"));
         running = test::StartProcess(Game("launcher.exe"), {"60"});
         files_["launcher.exe"] = image + std::string(4096, '\x2A');
         Publish();
       },
       "1 file updated | slept 0 | HEAD 1 GET 1"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    server_->ClearLog();
    if (step.change) step.change();
    const ProgressState last = harness.RunToEnd();
    EXPECT_EQ(Outcome(harness, last), step.outcome);
    ExpectConsistent(harness, last);
  }
  // Configuration, list and (absent) chunk index once each, one payload.
  EXPECT_EQ(server_->Requests().size(), 5u);
  EXPECT_TRUE(running && !running->Wait(0ms).has_value());  // still running
  const fs::path old = Game("launcher.exe.old");  // the leftover went, the running copy stays
  EXPECT_EQ(fs::exists(old) ? test::ReadFileBytes(old) : "", test::IsWindowsBuild() ? image : "");
  const std::string cache = test::ReadFileBytes(Game("EmbLauncher.cache"));
  EXPECT_EQ(std::ranges::count(cache, '\n'), 6) << cache;  // a header and a line a file
}

TEST_F(PatchEngineTest, TransfersOverlapAsFarAsTheBudgetAllows) {
  PublishTrickled(12, 20ms);
  // A job holds its payload's bound and its file: about 16.6 kB each here.
  const std::pair<std::int64_t, std::string> cases[] = {
      {128 * 1048576, "3+"}, {40000, "2"}, {1, "1"}};
  for (const auto& [budget, in_flight] : cases) {
    SCOPED_TRACE(budget);
    fs::remove_all(Game());
    server_->ClearLog();
    EngineHarness harness(Game(), urls_, With(budget));
    const ProgressState last = harness.RunToEnd();
    EXPECT_EQ(Outcome(harness, last), "12 files updated | slept 0 | HEAD 12 GET 12");
    ExpectConsistent(harness, last);
    const int most = server_->MaxGetsInFlight();
    EXPECT_EQ(most > 2 ? "3+" : std::to_string(most), in_flight);
    for (const ProgressState& s : harness.snapshots) EXPECT_LE(s.bytesDone, s.bytesTotal);
  }
}

// A later job that fails first in time is not the one reported: the run
// waits for the jobs before it, and jobs that finished stay applied.
TEST_F(PatchEngineTest, TheFirstFailingJobInListOrderIsReported) {
  // Each good payload takes about 200 ms, so the 404 of f5 is in long before
  // a connection frees up for f6, however busy the machine.
  PublishTrickled(8, 25ms);
  // Cut, not stalled: the client sends a request that got no answer once more
  // on a fresh connection, an attempt the engine does not count.
  server_->Serve("/p/1/f2.bin.lz", {.body = "cut", .fault = Response::Fault::kCloseAfter,
                                    .fault_after = 1, .delay = 600ms});
  server_->Serve("/p/1/f5.bin.lz", Response::Status(404));
  EngineHarness harness(Game(), urls_, With(128 * 1048576));
  const ProgressState last = harness.RunToEnd();
  const std::string failure = "Download failed | " + Url("/p/1/f2.bin.lz") + " | ";
  EXPECT_TRUE(WideToUtf8(last.errorText).starts_with(failure)) << WideToUtf8(last.errorText);
  ExpectConsistent(harness, last);
  for (const char* f : {"f0.bin", "f1.bin"}) EXPECT_EQ(test::ReadFileBytes(Game(f)), files_[f]);
  EXPECT_FALSE(fs::exists(Game("f6.bin")));  // never started
}

// A link at or above the game folder is the player's own; one below it ends
// the run before anything is read, written or deleted through it, at any
// depth, naming the folder.
TEST_F(PatchEngineTest, NoLinkBelowTheGameFolderIsFollowed) {
  const test::TempDir outside;
  test::WriteFileBytes(outside / "maps/Town Hall.pak.emb-new", "leftover");
  test::WriteFileBytes(outside / "maps/Town Hall.pak", "old");
  test::WriteFileBytes(outside / "game.exe", "old");
  std::error_code no_links;  // the Windows build's std::filesystem makes none
  fs::create_directory_symlink(outside.path(), outside / "probe", no_links);
  if (no_links) GTEST_SKIP() << "no symbolic links here";
  fs::remove(outside / "probe");
  const std::pair<const char*, const char*> links[] = {  // made at, aimed at
      {"data", ""}, {"data/maps", "maps"}, {"bin", ""}, {"", ""}};
  for (const auto& [at, aim] : links) {
    SCOPED_TRACE(at);
    Reset();
    fs::path game = Game();
    if (*at == '\0') {  // the game folder itself
      game = outside / "game";
      fs::create_directory_symlink(Game(), game);
    } else {
      fs::create_directories(Game(at).parent_path());
      fs::create_directory_symlink(outside / aim, Game(at));
    }
    EngineHarness harness(game, urls_);
    const ProgressState last = harness.RunToEnd();
    const std::string expected = *at == '\0' ? "4 files updated" :
        "Link in game folder | " + Utf8Path(Game(at)) + " | a symbolic link or junction below";
    EXPECT_TRUE(WideToUtf8(last.errorText.empty() ? last.detailText : last.errorText)
                    .starts_with(expected)) << WideToUtf8(last.errorText);
    EXPECT_EQ(test::ReadFileBytes(outside / "maps/Town Hall.pak.emb-new"), "leftover");
    EXPECT_EQ(test::ReadFileBytes(outside / "maps/Town Hall.pak"), "old");
    EXPECT_EQ(test::ReadFileBytes(outside / "game.exe"), "old");
    EXPECT_EQ(Requests("GET"), *at == '\0' ? 4u : 0u);
    fs::remove(outside / "game");
  }
}

// A cancelled run ends without a report, a final snapshot or a staged file,
// and writes no payload more, whenever it came; the launcher's shutdown wait
// gives up on a worker stuck in a request.
TEST_F(PatchEngineTest, ACancelledRunReportsAndWritesNothingMore) {
  const struct {
    const char* name;
    std::function<void()> setup;
    std::function<bool(const ProgressState*)> cancel_at;  // on the worker; null: StopAndWait
    std::string after;
  } cases[] = {
      {"during a pause", [this] { server_->Serve("/p/1/a.bin.lz", Response::Status(500)); },
       [](const ProgressState* s) { return s == nullptr; }, "slept 100 | GET 1"},
      {"as a payload arrives", nullptr,
       [](const ProgressState* s) { return s != nullptr && s->stage == PatchStage::Unpack; }, "slept 0 | GET 1"},
      {"while transfers run", [this] { PublishTrickled(8, 500ms); },  // about four seconds a file
       [this](const ProgressState*) { return Requests("GET") == 6; }, "slept 0 | GET 6"},
      {"while a request hangs", [this] { server_->Serve("/c.xml", Response::Stall(4500ms)); },
       nullptr, "slept 0 | GET 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset({{"a.bin", "new contents"}});
    if (c.setup) c.setup();
    EngineHarness harness(Game(), urls_, With(128 * 1048576));
    std::atomic<bool> cancelled{false};
    harness.hook = [&](const ProgressState* s) {
      if (cancelled || !c.cancel_at || !c.cancel_at(s)) return;
      harness.engine->RequestCancel();
      cancelled = true;
    };
    harness.engine->Start();
    ASSERT_TRUE(test::WaitUntil([&] {
      return c.cancel_at ? cancelled.load() : server_->RequestCount("/c.xml") > 0;
    }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(harness.engine->StopAndWait(3000), c.cancel_at != nullptr);
    EXPECT_TRUE(c.cancel_at || std::chrono::steady_clock::now() - start >= 2900ms);
    EXPECT_TRUE(harness.engine->StopAndWait(20000));  // once the server lets go
    EXPECT_EQ("slept " + std::to_string(harness.slept.count()) + " | GET " +
                  std::to_string(Requests("GET")), c.after);
    EXPECT_TRUE(harness.reports.empty());
    for (const ProgressState& s : harness.snapshots) EXPECT_FALSE(IsFinal(s.stage));
    for (const auto& [path, contents] : files_) EXPECT_FALSE(fs::exists(Game(path))) << path;
    ExpectNothingStaged();
  }
}

}  // namespace
}  // namespace emberfall
