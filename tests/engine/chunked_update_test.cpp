// Updates through chunks end to end, nginx answering the Range requests, and
// the fallback to the whole payload wherever the chunks cannot be trusted.
#include "engine/chunked_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <sstream>
#include <utility>

#include "core/chunk_index.h"
#include "core/chunker.h"
#include "core/text.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_publication.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

using test::ChunkIndexOf;
using test::RandomBytes;

TEST(ChunkedUpdateTest, InsertionUpdatesThroughChunksElseWholeFiles) {
  const std::string old = RandomBytes(3 << 20, 1), unrelated = RandomBytes(3 << 20, 4);
  const std::string inserted = old.substr(0, 1500000) + RandomBytes(5000, 2) + old.substr(1500000);
  const std::map<std::string, std::string> files = {{"big.bin", inserted}, {"small.txt", "new"}};
  const test::Served published = test::BuildPublication("http://unused/p", files);
  std::string pack;
  const std::string index = ChunkIndexOf(published.at("/p/1/crclist"), files, pack);
  const std::string packUri = "/p/packs/" + PackFileName(Sha256Of(pack));
  std::string corrupt = pack;
  corrupt[1500000 + 2500] ^= 0x01;  // inside the inserted bytes: a fetched chunk
  // nginx honours Range, the loopback server here does not; "changes": the
  // local file changes between its cut and its rebuild; "chunked": no
  // payload fetched.
  const struct {
    const char* name;
    bool nginx;
    const std::string *index, *pack, *local;  // no index: none published
    bool changes, chunked;
    int packGets;
  } cases[] = {
      {"an insertion comes through chunks", true, &index, &pack, &old, false, true, 1},
      {"a server that ignores Range", false, &index, &pack, &old, false, false, 1},
      {"a corrupted pack byte", true, &index, &corrupt, &old, false, false, 1},
      {"a local file that changed after its cut", true, &index, &pack, &old, true, false, 0},
      {"a local file with no chunk in common", true, &index, &pack, &unrelated, false, false, 0},
      {"no index", true, nullptr, &pack, &old, false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Served served = published;
    if (c.index) served["/p/1/crclist.chunks"] = *c.index;
    served[packUri] = *c.pack;
    std::optional<test::NginxServer> nginx;
    test::LoopbackHttpServer plain, config;
    if (c.nginx) {
      std::vector<std::pair<std::string, std::string>> relative;
      for (const auto& [path, body] : served) relative.emplace_back(path.substr(1), body);
      nginx.emplace(relative);
    } else {
      plain.ServeFiles(served);
    }
    // The configuration names the data server, whose port is known once it runs.
    const std::string data = c.nginx ? WideToUtf8(nginx->Url("/p")) : plain.UrlUtf8("/p");
    config.ServeFiles({{"/c.xml", test::BuildPublication(data, files).at("/c.xml")}});

    test::TempDir game;
    test::WriteFileBytes(game / "big.bin", *c.local);
    test::EngineHarness harness(game.path(), {config.Url("/c.xml")});
    std::atomic<bool> changed{false};
    harness.hook = [&](const ProgressState* s) {
      if (c.changes && s && s->stage == PatchStage::Download && !changed.exchange(true)) {
        test::WriteFileBytes(game / "big.bin", "X" + old.substr(1));
      }
    };
    const ProgressState last = harness.RunToEnd();
    ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
    EXPECT_EQ(last.bytesDone, last.bytesTotal);
    EXPECT_TRUE(test::ReadFileBytes(game / "big.bin") == inserted);
    EXPECT_EQ(test::ReadFileBytes(game / "small.txt"), "new");
    for (const auto& item : fs::recursive_directory_iterator(game.path())) {
      EXPECT_EQ(item.path().string().find(".emb-"), std::string::npos) << item.path();
    }
    // "METHOD URI STATUS" of each request the data server saw; the loopback
    // server records no status.
    std::vector<std::string> seen;
    std::istringstream log(nginx ? nginx->AccessLog() : "");
    for (std::string line; std::getline(log, line);) seen.push_back(line);
    for (const auto& r : plain.Requests()) seen.push_back(r.method + " " + r.target + " -");
    const auto count = [&](const std::string& prefix) {
      return std::ranges::count_if(seen, [&](const std::string& l) { return l.starts_with(prefix); });
    };
    EXPECT_EQ(count("GET " + packUri + " "), c.packGets);
    EXPECT_EQ(count("GET " + packUri + " 206"), c.nginx ? c.packGets : 0);
    EXPECT_EQ(count("GET /p/1/big.bin.lz "), c.chunked ? 0 : 1);
    if (c.chunked) {  // the bytes to download are a few chunks, not the 3 MiB payload
      EXPECT_LT(last.bytesTotal, std::ssize(inserted) / 10);
      EXPECT_GT(last.bytesTotal, 5000);
      // What came over the network and from the old file make up the new one.
      EXPECT_EQ(last.bytesFetched, last.bytesTotal);
      EXPECT_EQ(last.bytesFetched + last.bytesReused,
                std::ssize(inserted) + std::ssize(published.at("/p/1/small.txt.lz")));
      EXPECT_EQ(last.bytesResumed, 0);
    }
  }
}

// The index is used only when it is the one for this crclist and, in a
// signed release, the one the release document names by SHA-256 and size.
TEST(ChunkedUpdateTest, AnIndexCountsOnlyWhereItIsBound) {
  const std::string crclist = "f 1 2 3\n";
  std::string pack;
  const std::string index = ChunkIndexOf(crclist, {{"f", RandomBytes(100000, 3)}}, pack);
  const auto signedAs = [](const std::string& bytes, std::int64_t size) {
    ReleaseDocument document;
    document.files[std::string(kChunkIndexSignedPath)] = {Sha256Of(bytes), size};
    return std::optional(document);
  };
  const std::int64_t n = std::ssize(index);
  const struct {
    const char* name;
    std::optional<std::string> served;  // nullopt: 404
    std::string_view crclist;
    std::optional<ReleaseDocument> release;
    bool used;
  } cases[] = {
      {"unsigned", index, crclist, std::nullopt, true},
      {"not an index", "EMBCHK1\n", crclist, std::nullopt, false},
      {"of another crclist", index, "f 1 2 4\n", std::nullopt, false},
      {"signed", index, crclist, signedAs(index, n), true},
      {"signed with another hash", index, crclist, signedAs(index + "x", n), false},
      {"signed with another size", index, crclist, signedAs(index, n + 1), false},
      {"a signed release without an index", index, crclist, ReleaseDocument{}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::LoopbackHttpServer server;
    if (c.served) server.Serve("/v/crclist.chunks", test::Response::Ok(*c.served));
    HttpSession http;
    const std::optional<ChunkIndex> got = FetchChunkIndex(http, server.Url("/v/"), c.crclist, c.release);
    EXPECT_EQ(got.has_value(), c.used);
    EXPECT_TRUE(!got || FormatChunkIndex(*got) == index);
  }
}

}  // namespace
}  // namespace emberfall
