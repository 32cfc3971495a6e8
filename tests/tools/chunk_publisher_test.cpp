// ChunkPublisher on real files: the same packs and index on any number of
// threads, new chunks in file order, every file back from its chunks.
#include "tools/embpatch/chunk_publisher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/crc32.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"
#include "tools/embpatch/published_chunks.h"

namespace emberfall::cli {
namespace {

namespace fs = std::filesystem;

// Small chunks, so that one file fills several compression batches and packs.
constexpr ChunkerParams kSmall{2 * 1024, 8 * 1024, 32 * 1024};

std::string AsString(const test::Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// Text and noise in turn (chunks compressed and chunks stored raw), with a
// stretch repeated so that one chunk occurs twice in a release.
std::map<std::string, std::string> Files(std::uint32_t seed) {
  std::string big;
  for (std::uint32_t part = 0; big.size() < kCompressBatchSize + kTargetPackSize; ++part) {
    big += AsString(part % 2 ? test::FastRandomBytes(700 * 1024, seed + part)
                             : test::TextBytes(900 * 1024, seed + part));
  }
  big += big.substr(0, 200 * 1024);
  return {{"a/big.pak", big}, {"b.txt", AsString(test::TextBytes(5000, 3))}, {"c.bin", "x"}};
}

struct Published {
  std::string index;
  std::map<std::string, std::string> packs;  // by name
};

// Publishes |files| as |version| into |root| on |threads| threads and checks
// it: stored sizes, every file back from its chunks, and the chunks new to
// the web root in the new packs in the order they were cut.
Published Publish(const fs::path& root, const std::string& version,
                  const std::map<std::string, std::string>& files, unsigned threads,
                  const Published& earlier = {}) {
  ChunkPublisher publisher(root / "patch", Lzo1xLevel::Fast, kSmall, threads);
  std::vector<std::string> ignored;
  publisher.LoadStored(version, ignored);
  std::vector<std::uint64_t> stored_sizes;
  std::string error;
  for (const auto& [path, bytes] : files) {
    test::WriteFileBytes(root / version / path, bytes);
    std::uint64_t& stored = stored_sizes.emplace_back();
    EXPECT_TRUE(publisher.AddFile(path, root / version / path, bytes.size(),
                                  Crc32Buffer(bytes.data(), bytes.size()), stored, error)) << error;
  }
  EXPECT_TRUE(publisher.Finish(error)) << error;
  Published out{publisher.IndexBytes(Sha256Digest{}), {}};
  test::WriteFileBytes(root / "patch" / version / std::string(kChunkIndexName), out.index);
  const fs::path packs = root / "patch" / std::string(kPackFolder);
  for (const auto& entry : fs::directory_iterator(packs)) {
    out.packs[entry.path().filename().string()] = test::ReadFileBytes(entry.path());
  }
  const PublishedIndex read{ParseChunkIndex(out.index, error).value_or(ChunkIndex{}), out.index, packs};
  EXPECT_EQ(read.index.params, kSmall) << error;
  size_t i = 0;
  for (const auto& [path, bytes] : files) {
    const IndexedFile& file = read.index.files.at(i);
    std::uint64_t sum = 0;
    for (const std::uint32_t number : file.chunks) sum += read.index.chunks[number].stored_size;
    EXPECT_EQ(stored_sizes[i++], sum) << path;
    const auto whole = ReassembleFile(read, file, error);
    EXPECT_TRUE(whole && std::string(whole->begin(), whole->end()) == bytes) << path << error;
  }
  std::optional<std::uint32_t> pack;
  for (std::uint64_t end = 0; const IndexedChunk& chunk : read.index.chunks) {
    if (earlier.packs.count(PackFileName(read.index.packs[chunk.pack].sha256))) continue;
    EXPECT_EQ(chunk.offset, pack == chunk.pack ? end : 0);
    pack = chunk.pack;
    end = chunk.offset + chunk.stored_size;
  }
  return out;
}

TEST(ChunkPublisherTest, PacksAreTheSameBytesOnAnyNumberOfThreads) {
  test::TempDir dir;
  std::map<std::string, std::string> v2 = Files(10);
  v2["a/big.pak"].insert(3 * 1024 * 1024, AsString(test::TextBytes(300 * 1024, 99)));
  v2["d.txt"] = AsString(test::TextBytes(70 * 1024, 4));
  std::vector<Published> runs;
  for (const unsigned threads : {1u, 2u, 5u}) {
    SCOPED_TRACE(threads);
    const fs::path root = dir / std::to_string(threads);
    const Published v1 = Publish(root, "1", Files(10), threads);
    EXPECT_GE(v1.packs.size(), 3u);
    runs.push_back(Publish(root, "2", v2, threads, v1));
    EXPECT_GT(runs.back().packs.size(), v1.packs.size());
  }
  for (const Published& run : runs) EXPECT_TRUE(run.index == runs[0].index && run.packs == runs[0].packs);
}

}  // namespace
}  // namespace emberfall::cli
