#include "tools/embpatch/published_chunks.h"

#include <algorithm>
#include <fstream>

#include "core/crypto.h"
#include "core/fs_path.h"
#include "tools/embpatch/cli.h"

namespace emberfall::cli {

namespace fs = std::filesystem;

fs::path PacksFolderOf(const fs::path& version_dir) {
  return version_dir.parent_path() / std::string(kPackFolder);
}

std::optional<PublishedIndex> ReadPublishedIndex(const fs::path& version_dir,
                                                 std::optional<std::string_view> crclist,
                                                 std::string& problem) {
  problem.clear();
  const fs::path path = version_dir / std::string(kChunkIndexName);
  std::error_code ec;
  if (!fs::exists(path, ec)) return std::nullopt;
  PublishedIndex published;
  published.packs_folder = PacksFolderOf(version_dir);
  std::string reason;
  if (!ReadWholeFile(Utf8Path(path), published.bytes, reason)) {
    problem = std::string(kChunkIndexName) + ": " + reason;
    return std::nullopt;
  }
  std::optional<ChunkIndex> index = ParseChunkIndex(published.bytes, reason);
  if (!index) {
    problem = std::string(kChunkIndexName) + ": " + reason;
    return std::nullopt;
  }
  if (crclist && index->crclist_sha256 != Sha256Of(*crclist)) {
    problem = std::string(kChunkIndexName) + ": made for another crclist";
    return std::nullopt;
  }
  published.index = std::move(*index);
  return published;
}

const IndexedFile* FindIndexedFile(const ChunkIndex& index, std::string_view path) {
  const auto it = std::lower_bound(index.files.begin(), index.files.end(), path,
                                   [](const IndexedFile& f, std::string_view p) { return f.path < p; });
  return it != index.files.end() && it->path == path ? &*it : nullptr;
}

std::optional<std::vector<std::uint8_t>> ReassembleFile(const PublishedIndex& published,
                                                        const IndexedFile& file,
                                                        std::string& problem) {
  std::vector<std::uint8_t> bytes;
  std::ifstream pack;
  std::uint32_t open_pack = UINT32_MAX;
  std::vector<std::uint8_t> stored;
  for (const std::uint32_t number : file.chunks) {
    const IndexedChunk& chunk = published.index.chunks[number];
    const std::string name = PackFileName(published.index.packs[chunk.pack].sha256);
    if (chunk.pack != open_pack) {
      pack = std::ifstream(published.packs_folder / name, std::ios::binary);
      open_pack = chunk.pack;
    }
    stored.resize(chunk.stored_size);
    if (pack) {
      pack.seekg(static_cast<std::streamoff>(chunk.offset));
      pack.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
    }
    if (!pack) {
      problem = "pack " + name + ": missing or shorter than the index says";
      return std::nullopt;
    }
    std::string reason;
    const std::optional<std::vector<std::uint8_t>> decoded = DecodeChunk(chunk, stored, reason);
    if (!decoded) {
      problem = "chunk " + HexEncode(chunk.sha256) + " in pack " + name + ": " + reason;
      return std::nullopt;
    }
    bytes.insert(bytes.end(), decoded->begin(), decoded->end());
  }
  return bytes;
}

}  // namespace emberfall::cli
