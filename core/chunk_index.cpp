#include "core/chunk_index.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "core/lzo1x.h"
#include "core/lzo1x_compress.h"
#include "core/text.h"

namespace emberfall {
namespace {

constexpr size_t kPackRecord = 32 + 8;
constexpr size_t kChunkRecord = 32 + 4 + 4 + 1 + 4 + 8;
constexpr size_t kSmallestFileRecord = 2 + 8 + 4;

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  size_t remaining() const { return bytes_.size() - position_; }

  bool Read(std::uint8_t* out, size_t length) {
    if (length > remaining()) return false;
    std::memcpy(out, bytes_.data() + position_, length);
    position_ += length;
    return true;
  }
  template <typename T>
  bool ReadLe(T& out) {
    std::uint8_t raw[sizeof(T)];
    if (!Read(raw, sizeof(T))) return false;
    out = 0;
    for (size_t i = sizeof(T); i-- > 0;) out = static_cast<T>((out << 8) | raw[i]);
    return true;
  }
  bool ReadText(std::string& out, size_t length) {
    if (length > remaining()) return false;
    out.assign(bytes_.substr(position_, length));
    position_ += length;
    return true;
  }
  // Whether |count| records of at least |record| bytes each can follow.
  bool CanHold(std::uint64_t count, size_t record) const { return count <= remaining() / record; }

 private:
  std::string_view bytes_;
  size_t position_ = 0;
};

template <typename T>
void AppendLe(std::string& out, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

void AppendDigest(std::string& out, const Sha256Digest& digest) {
  out.append(reinterpret_cast<const char*>(digest.data()), digest.size());
}

bool Fail(std::string& reason, const char* text) {
  reason = text;
  return false;
}

std::optional<ChunkIndex> Refuse(std::string& reason, std::string text) {
  reason = std::move(text);
  return std::nullopt;
}

bool ReadPacks(Reader& in, ChunkIndex& index, std::string& reason) {
  std::uint32_t count = 0;
  if (!in.ReadLe(count)) return Fail(reason, "truncated before the pack count");
  if (!in.CanHold(count, kPackRecord)) {
    return Fail(reason, "more packs than the index has bytes for");
  }
  index.packs.resize(count);
  for (PackRef& pack : index.packs) {
    in.Read(pack.sha256.data(), pack.sha256.size());
    in.ReadLe(pack.size);
    if (pack.size < 1 || pack.size > kMaxPackSize) return Fail(reason, "a pack size out of range");
  }
  std::vector<std::uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return index.packs[a].sha256 < index.packs[b].sha256;
  });
  for (size_t i = 1; i < order.size(); ++i) {
    if (index.packs[order[i - 1]].sha256 == index.packs[order[i]].sha256) {
      return Fail(reason, "a pack listed twice");
    }
  }
  return true;
}

bool CheckChunk(const ChunkIndex& index, const IndexedChunk& chunk, std::string& reason) {
  if (chunk.size < 1 || chunk.size > index.params.max_size) {
    return Fail(reason, "a chunk size out of range");
  }
  if (chunk.method == ChunkMethod::kStored) {
    if (chunk.stored_size != chunk.size) {
      return Fail(reason, "a stored chunk whose stored size is not its size");
    }
  } else if (chunk.method == ChunkMethod::kLzo1x) {
    if (chunk.stored_size < 1 || chunk.stored_size > Lzo1xCompressBound(chunk.size)) {
      return Fail(reason, "a compressed chunk's stored size out of range");
    }
  } else {
    return Fail(reason, "an unknown chunk method");
  }
  if (chunk.pack >= index.packs.size()) {
    return Fail(reason, "a chunk in a pack the index does not list");
  }
  const std::uint64_t pack_size = index.packs[chunk.pack].size;
  if (chunk.offset > pack_size || chunk.stored_size > pack_size - chunk.offset) {
    return Fail(reason, "a chunk outside its pack");
  }
  return true;
}

// Sorting one list of chunk numbers twice finds both a duplicate hash and two
// chunks sharing bytes of a pack, in n log n and 4 bytes per chunk.
bool CheckChunksDistinct(const ChunkIndex& index, std::string& reason) {
  const std::vector<IndexedChunk>& chunks = index.chunks;
  std::vector<std::uint32_t> order(chunks.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return chunks[a].sha256 < chunks[b].sha256; });
  for (size_t i = 1; i < order.size(); ++i) {
    if (chunks[order[i - 1]].sha256 == chunks[order[i]].sha256) {
      return Fail(reason, "a chunk hash listed twice");
    }
  }
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const IndexedChunk& x = chunks[a];
    const IndexedChunk& y = chunks[b];
    return x.pack != y.pack ? x.pack < y.pack : x.offset < y.offset;
  });
  for (size_t i = 1; i < order.size(); ++i) {
    const IndexedChunk& before = chunks[order[i - 1]];
    const IndexedChunk& after = chunks[order[i]];
    if (before.pack == after.pack && before.offset + before.stored_size > after.offset) {
      return Fail(reason, "two chunks overlap in a pack");
    }
  }
  return true;
}

bool ReadChunks(Reader& in, ChunkIndex& index, std::string& reason) {
  std::uint32_t count = 0;
  if (!in.ReadLe(count)) return Fail(reason, "truncated before the chunk count");
  if (!in.CanHold(count, kChunkRecord)) {
    return Fail(reason, "more chunks than the index has bytes for");
  }
  index.chunks.resize(count);
  for (IndexedChunk& chunk : index.chunks) {
    std::uint8_t method = 0;
    in.Read(chunk.sha256.data(), chunk.sha256.size());
    in.ReadLe(chunk.size);
    in.ReadLe(chunk.stored_size);
    in.ReadLe(method);
    in.ReadLe(chunk.pack);
    in.ReadLe(chunk.offset);
    chunk.method = static_cast<ChunkMethod>(method);
    if (!CheckChunk(index, chunk, reason)) return false;
  }
  return CheckChunksDistinct(index, reason);
}

bool ReadFile(Reader& in, const ChunkIndex& index, IndexedFile& file, std::string& reason) {
  std::uint16_t path_length = 0;
  if (!in.ReadLe(path_length) || !in.ReadText(file.path, path_length)) {
    return Fail(reason, "truncated inside a file's path");
  }
  if (file.path.empty()) return Fail(reason, "a file with an empty path");
  std::uint32_t count = 0;
  if (!in.ReadLe(file.size) || !in.ReadLe(count)) {
    return Fail(reason, "truncated inside a file record");
  }
  if (!in.CanHold(count, 4)) {
    return Fail(reason, "more chunks of a file than the index has bytes for");
  }
  file.chunks.resize(count);
  std::uint64_t sum = 0;
  for (std::uint32_t& number : file.chunks) {
    in.ReadLe(number);
    if (number >= index.chunks.size()) {
      return Fail(reason, "a file names a chunk the index does not list");
    }
    sum += index.chunks[number].size;
  }
  if (sum != file.size) return Fail(reason, "a file's chunks do not add up to its size");
  return true;
}

bool ReadFiles(Reader& in, ChunkIndex& index, std::string& reason) {
  std::uint32_t count = 0;
  if (!in.ReadLe(count)) return Fail(reason, "truncated before the file count");
  if (!in.CanHold(count, kSmallestFileRecord)) {
    return Fail(reason, "more files than the index has bytes for");
  }
  index.files.resize(count);
  for (size_t i = 0; i < count; ++i) {
    if (!ReadFile(in, index, index.files[i], reason)) return false;
    if (i > 0 && !(index.files[i - 1].path < index.files[i].path)) {
      return Fail(reason, "file paths not in strictly ascending order");
    }
  }
  return true;
}

}  // namespace

std::string FormatChunkIndex(const ChunkIndex& index) {
  std::string out(kChunkIndexMagic);
  AppendDigest(out, index.crclist_sha256);
  AppendLe(out, index.params.min_size);
  AppendLe(out, index.params.avg_size);
  AppendLe(out, index.params.max_size);
  AppendLe(out, static_cast<std::uint32_t>(index.packs.size()));
  for (const PackRef& pack : index.packs) {
    AppendDigest(out, pack.sha256);
    AppendLe(out, pack.size);
  }
  AppendLe(out, static_cast<std::uint32_t>(index.chunks.size()));
  for (const IndexedChunk& chunk : index.chunks) {
    AppendDigest(out, chunk.sha256);
    AppendLe(out, chunk.size);
    AppendLe(out, chunk.stored_size);
    AppendLe(out, static_cast<std::uint8_t>(chunk.method));
    AppendLe(out, chunk.pack);
    AppendLe(out, chunk.offset);
  }
  AppendLe(out, static_cast<std::uint32_t>(index.files.size()));
  for (const IndexedFile& file : index.files) {
    AppendLe(out, static_cast<std::uint16_t>(file.path.size()));
    out += file.path;
    AppendLe(out, file.size);
    AppendLe(out, static_cast<std::uint32_t>(file.chunks.size()));
    for (std::uint32_t number : file.chunks) AppendLe(out, number);
  }
  return out;
}

std::optional<ChunkIndex> ParseChunkIndex(std::string_view bytes, std::string& reason) {
  if (bytes.size() > kChunkIndexLimit) {
    return Refuse(reason, "the index is larger than any index may be");
  }
  Reader in(bytes);
  std::string magic;
  if (!in.ReadText(magic, kChunkIndexMagic.size())) return Refuse(reason, "too short for an index");
  if (magic != kChunkIndexMagic) return Refuse(reason, "not a chunk index (bad magic)");
  ChunkIndex index;
  if (!in.Read(index.crclist_sha256.data(), index.crclist_sha256.size()) ||
      !in.ReadLe(index.params.min_size) || !in.ReadLe(index.params.avg_size) ||
      !in.ReadLe(index.params.max_size)) {
    return Refuse(reason, "truncated inside the header");
  }
  if (!IsValidChunkerParams(index.params)) return Refuse(reason, "invalid chunker sizes");
  if (!ReadPacks(in, index, reason) || !ReadChunks(in, index, reason) ||
      !ReadFiles(in, index, reason)) {
    return std::nullopt;
  }
  if (in.remaining() != 0) return Refuse(reason, "bytes after the last file");
  return index;
}

std::string PackFileName(const Sha256Digest& pack) { return HexEncode(pack) + ".pack"; }

std::optional<std::vector<std::uint8_t>> DecodeChunk(const IndexedChunk& chunk,
                                                     std::span<const std::uint8_t> stored,
                                                     std::string& reason) {
  if (stored.size() != chunk.stored_size) {
    reason = "the stored bytes are not the chunk's stored size";
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  if (chunk.method == ChunkMethod::kStored) {
    if (stored.size() != chunk.size) {
      reason = "a stored chunk whose stored size is not its size";
      return std::nullopt;
    }
    bytes.assign(stored.begin(), stored.end());
  } else if (chunk.method == ChunkMethod::kLzo1x) {
    bytes.resize(chunk.size);
    size_t produced = 0;
    const LzoResult result =
        Lzo1xDecompressSafe(stored.data(), stored.size(), bytes.data(), bytes.size(), produced);
    if (result != LzoResult::Ok) {
      reason = "the chunk does not decode: " + WideToUtf8(LzoResultText(result));
      return std::nullopt;
    }
    if (produced != chunk.size) {
      reason = "the chunk decodes to " + std::to_string(produced) + " bytes, not " +
               std::to_string(chunk.size);
      return std::nullopt;
    }
  } else {
    reason = "an unknown chunk method";
    return std::nullopt;
  }
  if (Sha256Of(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) !=
      chunk.sha256) {
    reason = "the chunk's SHA-256 does not match";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace emberfall
