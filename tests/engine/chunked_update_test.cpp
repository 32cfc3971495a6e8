// Updates through chunks, end to end: a publication with a chunk index and
// a pack, nginx answering the Range requests (or a server that ignores
// them), and the engine's fallback to the whole payload whenever the chunks
// cannot be trusted.
#include "engine/chunked_update.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <sstream>

#include "core/chunk_index.h"
#include "core/chunker.h"
#include "core/text.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_publication.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// The index of |files| for |crclist|, every chunk stored raw in one pack.
std::string ChunkIndexOf(std::string_view crclist, const std::map<std::string, std::string>& files,
                         std::string& pack) {
  ChunkIndex index;
  index.crclist_sha256 = Sha256Of(crclist);
  std::map<Sha256Digest, std::uint32_t> numbers;
  for (const auto& [path, bytes] : files) {
    IndexedFile file{path, bytes.size(), {}};
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    size_t at = 0;
    for (const std::uint32_t length : ChunkLengths({data, bytes.size()}, index.params)) {
      const std::string piece = bytes.substr(at, length);
      at += length;
      const auto [it, added] = numbers.emplace(Sha256Of(piece), index.chunks.size());
      if (added) {
        index.chunks.push_back({it->first, length, length, ChunkMethod::kStored, 0, pack.size()});
        pack += piece;
      }
      file.chunks.push_back(it->second);
    }
    index.files.push_back(std::move(file));
  }
  index.packs = {{Sha256Of(pack), pack.size()}};
  return FormatChunkIndex(index);
}

TEST(ChunkedUpdateTest, InsertionUpdatesThroughChunksElseWholeFiles) {
  const std::string old = RandomBytes(3 << 20, 1);
  const std::string inserted = old.substr(0, 1500000) + RandomBytes(5000, 2) + old.substr(1500000);
  const std::map<std::string, std::string> files = {{"big.bin", inserted}, {"small.txt", "new"}};
  const std::string payload = test::StoredPayload(inserted);
  test::Served published = test::BuildPublication("http://unused/p", files);
  std::string pack;
  const std::string index = ChunkIndexOf(published.at("/p/1/crclist"), files, pack);
  const std::string packPath = "/p/packs/" + PackFileName(Sha256Of(pack));
  std::string corrupt = pack;
  corrupt[1500000 + 2500] ^= 0x01;  // inside the inserted bytes: a fetched chunk

  enum class Server { kNginx, kIgnoresRange };
  struct Case {
    const char* name;
    Server server;
    std::string index;       // empty: none published
    std::string pack;
    const std::string& local;  // what the player has
    bool changeLocal;          // the local file changes between its cut and its rebuild
    bool chunked;            // no payload fetched
    int packRequests;
  };
  std::string samePack;
  const std::string otherIndex = ChunkIndexOf("another crclist", files, samePack);
  const std::string unrelated = RandomBytes(old.size(), 4);
  const Case cases[] = {
      {"an insertion comes through chunks", Server::kNginx, index, pack, old, false, true, 1},
      {"a server that ignores Range", Server::kIgnoresRange, index, pack, old, false, false, 1},
      {"a corrupted pack byte", Server::kNginx, index, corrupt, old, false, false, 1},
      {"a local file that changed after its cut", Server::kNginx, index, pack, old, true, false, 0},
      {"a local file with no chunk in common", Server::kNginx, index, pack, unrelated, false, false, 0},
      {"no index", Server::kNginx, "", pack, old, false, false, 0},
      {"an index of another crclist", Server::kNginx, otherIndex, pack, old, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::pair<std::string, std::string>> served;
    for (const auto& [path, body] : published) {
      if (path != "/c.xml") served.emplace_back(path.substr(1), body);
    }
    if (!c.index.empty()) served.emplace_back("p/1/crclist.chunks", c.index);
    served.emplace_back(packPath.substr(1), c.pack);

    // The configuration comes from the loopback server and names the data
    // server, whose port is known only once it runs.
    test::LoopbackHttpServer config;
    std::optional<test::NginxServer> nginx;
    test::LoopbackHttpServer plain;
    std::string dataUrl;
    if (c.server == Server::kNginx) {
      nginx.emplace(served);
      dataUrl = WideToUtf8(nginx->Url("/p"));
    } else {
      std::map<std::string, std::string> all;
      for (const auto& [path, body] : served) all["/" + path] = body;
      plain.ServeFiles(all);
      dataUrl = plain.UrlUtf8("/p");
    }
    config.ServeFiles({{"/c.xml", test::BuildPublication(dataUrl, files).at("/c.xml")}});

    test::TempDir game;
    test::WriteFileBytes(game.path() / "big.bin", c.local);
    test::EngineHarness harness(game.path(), {config.Url("/c.xml")});
    std::atomic<bool> changed{false};
    harness.hook = [&](const ProgressState* s) {
      if (c.changeLocal && s != nullptr && s->stage == PatchStage::Download && !changed.exchange(true)) {
        test::WriteFileBytes(game.path() / "big.bin", "X" + old.substr(1));
      }
    };
    const ProgressState last = harness.RunToEnd();
    ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
    EXPECT_EQ(last.bytesDone, last.bytesTotal);
    EXPECT_TRUE(test::ReadFileBytes(game.path() / "big.bin") == inserted);
    EXPECT_EQ(test::ReadFileBytes(game.path() / "small.txt"), "new");
    for (const auto& item : fs::recursive_directory_iterator(game.path())) {
      EXPECT_EQ(item.path().string().find(".emb-"), std::string::npos) << item.path();
    }

    // What the data server saw: "METHOD URI STATUS" lines, or the requests.
    int packGets = 0, rangeAnswers = 0, payloadGets = 0;
    if (nginx) {
      std::istringstream log(nginx->AccessLog());
      for (std::string method, uri, status; log >> method >> uri >> status;) {
        packGets += method == "GET" && uri == packPath;
        rangeAnswers += method == "GET" && uri == packPath && status == "206";
        payloadGets += method == "GET" && uri == "/p/1/big.bin.lz";
      }
    } else {
      for (const test::RecordedRequest& r : plain.Requests()) {
        packGets += r.method == "GET" && r.target == packPath;
        payloadGets += r.method == "GET" && r.target == "/p/1/big.bin.lz";
      }
    }
    EXPECT_EQ(packGets, c.packRequests);
    EXPECT_EQ(rangeAnswers, c.server == Server::kNginx ? c.packRequests : 0);
    EXPECT_EQ(payloadGets, c.chunked ? 0 : 1);
    // The bytes to download are those really fetched: a few chunks, not
    // the 3 MiB payload.
    const std::int64_t smallPayload = std::ssize(test::StoredPayload("new"));
    if (c.chunked) {
      EXPECT_LT(last.bytesTotal, std::ssize(payload) / 10);
      EXPECT_GT(last.bytesTotal, 5000 + smallPayload);
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
      {"none published", std::nullopt, crclist, std::nullopt, false},
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
    if (got) {
      EXPECT_EQ(FormatChunkIndex(*got), index);
    }
  }
}

}  // namespace
}  // namespace emberfall
