// The store of fetched chunks, end to end with nginx: a chunked update cut
// off part way fetches, when run again, only the runs it had not kept;
// nothing in the store is used unchecked; the store goes when a run succeeds
// and with a release change.
#include "engine/chunk_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "core/text.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_publication.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

// One version of the game: big.bin rebuilt from chunks, small.txt whole.
struct Release {
  std::map<std::string, std::string> files;
  test::Served served;
  std::string packUri;
};

Release MakeRelease(const std::string& big, const std::string& small) {
  Release r{{{"big.bin", big}, {"small.txt", small}}, {}, {}};
  r.served = test::BuildPublication("http://unused/p", r.files);
  std::string pack;
  r.served["/p/1/crclist.chunks"] = test::ChunkIndexOf(r.served.at("/p/1/crclist"), r.files, pack);
  r.packUri = "/p/packs/" + PackFileName(Sha256Of(pack));
  r.served[r.packUri] = pack;
  return r;
}

struct Outcome {
  ProgressState last;
  long packGets = 0;
};

// One run of the engine on |game| against nginx serving |release|.
Outcome RunOnce(const fs::path& game, const Release& release, const test::Served& served) {
  std::vector<std::pair<std::string, std::string>> relative;
  for (const auto& [path, body] : served) relative.emplace_back(path.substr(1), body);
  test::NginxServer nginx(relative);
  test::LoopbackHttpServer config;
  config.ServeFiles({{"/c.xml", test::BuildPublication(WideToUtf8(nginx.Url("/p")), release.files)
                                    .at("/c.xml")}});
  test::EngineHarness harness(game, {config.Url("/c.xml")});
  Outcome outcome{harness.RunToEnd()};
  std::istringstream log(nginx.AccessLog());
  for (std::string line; std::getline(log, line);) {
    outcome.packGets += line.starts_with("GET " + release.packUri + " ");
  }
  return outcome;
}

std::vector<fs::path> StoredChunks(const fs::path& store) {
  std::vector<fs::path> chunks;
  for (const auto& item : fs::directory_iterator(store)) {
    if (item.path().filename() != "key") chunks.push_back(item.path());
  }
  std::ranges::sort(chunks);
  return chunks;
}

TEST(ChunkStoreTest, AnInterruptedUpdateFetchesOnlyWhatItDidNotKeep) {
  // Four insertions far apart: four runs of new chunks in the pack, which
  // holds the new file's chunks in order.
  const std::string old = test::RandomBytes(3 << 20, 1);
  std::string inserted = old;
  for (const size_t at : {2500000, 1800000, 1100000, 400000}) {
    inserted.insert(at, test::RandomBytes(30000, static_cast<unsigned>(at)));
  }
  const Release good = MakeRelease(inserted, "new"), next = MakeRelease(inserted, "newer");
  // small.txt changes only in |next|. The first run breaks off at the last
  // run: its chunk is corrupt and so is the payload, so the run fails with
  // three runs kept.
  test::Served broken = good.served;
  broken[good.packUri][2590000 + 15000] ^= 0x01;  // the pack is the new big.bin
  broken["/p/1/big.bin.lz"][1000] ^= 0x01;

  const test::TempDir outside;
  const auto baseline = [&] {
    const test::TempDir game;
    test::WriteFileBytes(game / "big.bin", old);
    test::WriteFileBytes(game / "small.txt", "new");
    return RunOnce(game.path(), good, good.served).last.bytesFetched;
  }();
  const struct {
    const char* name;
    void (*between)(const std::vector<fs::path>& stored);  // after the broken run
    bool linked;      // the store is a link to |outside| from the start
    bool newRelease;  // the second run is of another release
    long packGets;    // in the second run
  } cases[] = {
      {"resumed", [](const auto&) {}, false, false, 1},
      {"a stored byte flipped", [](const auto& stored) {
         std::string bytes = test::ReadFileBytes(stored[0]);
         bytes[bytes.size() / 2] ^= 0x01;
         test::WriteFileBytes(stored[0], bytes);
       }, false, false, 2},
      {"a stored chunk grown", [](const auto& stored) {
         test::WriteFileBytes(stored[1], test::ReadFileBytes(stored[1]) + "x");
       }, false, false, 2},
      {"another release", [](const auto&) {}, false, true, 4},
      {"a link in place of the store", [](const auto&) {}, true, false, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const test::TempDir game;
    const fs::path store = game / "EmbLauncher.chunks";
    test::WriteFileBytes(game / "big.bin", old);
    test::WriteFileBytes(game / "small.txt", "new");
    if (c.linked) {
      std::error_code no_links;  // the Windows build's std::filesystem makes none
      fs::create_directory_symlink(outside.path(), store, no_links);
      if (no_links) continue;
    }
    const Outcome first = RunOnce(game.path(), good, broken);
    ASSERT_FALSE(first.last.ready);
    EXPECT_EQ(first.packGets, 4);
    if (!c.linked) {
      ASSERT_GE(StoredChunks(store).size(), 3u);
      c.between(StoredChunks(store));
    }
    const Release& second = c.newRelease ? next : good;
    const Outcome rerun = RunOnce(game.path(), second, second.served);
    ASSERT_TRUE(rerun.last.ready) << WideToUtf8(rerun.last.errorText);
    EXPECT_TRUE(test::ReadFileBytes(game / "big.bin") == inserted);
    EXPECT_EQ(rerun.packGets, c.packGets);
    // Every byte of the chunks came either from the network or the store.
    EXPECT_EQ(rerun.last.bytesFetched + rerun.last.bytesResumed,
              baseline + (c.newRelease ? std::ssize(next.served.at("/p/1/small.txt.lz")) : 0));
    EXPECT_EQ(rerun.last.bytesResumed > 0, c.packGets < 4);
    EXPECT_EQ(fs::exists(fs::symlink_status(store)), c.linked);
    EXPECT_TRUE(fs::is_empty(outside.path()));
  }
}

}  // namespace
}  // namespace emberfall
