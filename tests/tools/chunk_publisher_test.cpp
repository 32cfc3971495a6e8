// ChunkPublisher on real files: its packs and index are the same bytes on
// any number of threads, a file's new chunks lie in the packs in file order,
// and every file comes back from them.
#include "tools/embpatch/chunk_publisher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
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

// Publishes |files| as version |version| into |root| on |threads| threads,
// checking each file's stored size against the index.
Published Publish(const fs::path& root, const std::string& version,
                  const std::map<std::string, std::string>& files, unsigned threads,
                  const Published& earlier = {}) {
  const fs::path sources = root / ("src" + version);
  ChunkPublisher publisher(root / "patch", Lzo1xLevel::Fast, kSmall, threads);
  std::vector<std::string> warnings;
  publisher.LoadStored(version, warnings);
  EXPECT_TRUE(warnings.empty());
  std::vector<std::uint64_t> stored_sizes;
  std::string error;
  for (const auto& [path, bytes] : files) {
    test::WriteFileBytes(sources / path, bytes);
    std::uint64_t stored = 0;
    EXPECT_TRUE(publisher.AddFile(path, sources / path, bytes.size(), Crc32Buffer(bytes.data(), bytes.size()),
                                  stored, error))
        << error;
    stored_sizes.push_back(stored);
  }
  EXPECT_TRUE(publisher.Finish(error)) << error;
  Published out{publisher.IndexBytes(Sha256Digest{}), {}};
  std::set<std::string> before;
  for (const auto& [name, bytes] : earlier.packs) before.insert(name);
  test::WriteFileBytes(root / "patch" / version / std::string(kChunkIndexName), out.index);
  for (const auto& entry : fs::directory_iterator(root / "patch" / std::string(kPackFolder))) {
    out.packs[entry.path().filename().string()] = test::ReadFileBytes(entry.path());
  }

  std::string problem;
  const std::optional<PublishedIndex> read = ReadPublishedIndex(root / "patch" / version, std::nullopt, problem);
  EXPECT_TRUE(read) << problem;
  if (!read) return out;
  EXPECT_EQ(read->index.params, kSmall);
  size_t i = 0;
  for (const auto& [path, bytes] : files) {
    SCOPED_TRACE(path);
    const IndexedFile* file = FindIndexedFile(read->index, path);
    EXPECT_NE(file, nullptr);
    if (file == nullptr) continue;
    std::uint64_t sum = 0;
    for (const std::uint32_t number : file->chunks) sum += read->index.chunks[number].stored_size;
    EXPECT_EQ(stored_sizes[i++], sum);
    const auto whole = ReassembleFile(*read, *file, problem);
    EXPECT_TRUE(whole && std::string(whole->begin(), whole->end()) == bytes) << problem;
  }
  // New chunks lie in the new packs in the order they were cut: each one
  // right after the one before, or at the start of the next pack.
  std::optional<std::uint32_t> pack;
  std::uint64_t end = 0;
  for (const IndexedChunk& chunk : read->index.chunks) {
    if (before.count(PackFileName(read->index.packs[chunk.pack].sha256))) continue;
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
  for (size_t i = 1; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].index, runs[0].index);
    EXPECT_TRUE(runs[i].packs == runs[0].packs);
  }
}

}  // namespace
}  // namespace emberfall::cli
