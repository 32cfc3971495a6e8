#include "tools/embpatch/chunk_publisher.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "core/chunker.h"
#include "core/crc32.h"
#include "core/fs_path.h"
#include "core/helper_threads.h"
#include "tools/embpatch/cli.h"

namespace emberfall::cli {
namespace {

namespace fs = std::filesystem;

static_assert(kTargetPackSize + Lzo1xCompressBound(kMaxChunkSize) < kMaxPackSize);

// Carries a failure out of CutStream's callbacks.
struct ChunkFailure {
  std::string error;
};

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsFileOfSize(const fs::path& path, std::uint64_t size) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) && fs::file_size(path, ec) == size && !ec;
}

}  // namespace

ChunkPublisher::ChunkPublisher(fs::path crcpatch_dir, Lzo1xLevel level, ChunkerParams params,
                               unsigned threads)
    : crcpatch_dir_(std::move(crcpatch_dir)),
      level_(level),
      params_(params),
      threads_(threads != 0 ? threads : std::clamp(std::thread::hardware_concurrency(), 1u, 8u)) {
  pack_.reserve(kTargetPackSize + Lzo1xCompressBound(params_.max_size));
  batch_bytes_.reserve(kCompressBatchSize + params_.max_size);
}

void ChunkPublisher::LoadStored(const fs::path& preferred, std::vector<std::string>& warnings) {
  const fs::path packs = crcpatch_dir_ / std::string(kPackFolder);
  std::set<Sha256Digest> bad_packs;
  // The version's own earlier index first, then the others by name: where
  // two releases store a chunk in different packs, a republish picks the
  // same one every time.
  std::vector<fs::path> folders;
  std::error_code ec;
  for (auto it = fs::directory_iterator(crcpatch_dir_, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (it->path().filename() != kPackFolder) folders.push_back(it->path());
  }
  std::sort(folders.begin(), folders.end(), [&](const fs::path& a, const fs::path& b) {
    return std::pair(a.filename() != preferred, a) < std::pair(b.filename() != preferred, b);
  });
  for (const fs::path& folder : folders) {
    const fs::path index_path = folder / std::string(kChunkIndexName);
    std::error_code exists_error;
    if (!fs::is_regular_file(index_path, exists_error)) continue;
    std::string bytes, reason;
    std::optional<ChunkIndex> index;
    if (ReadWholeFile(Utf8Path(index_path), bytes, reason)) index = ParseChunkIndex(bytes, reason);
    if (!index) {
      warnings.push_back(Utf8Path(index_path) + ": " + reason + "; its chunks are not reused");
      continue;
    }
    std::vector<bool> usable(index->packs.size());
    for (size_t p = 0; p < index->packs.size(); ++p) {
      const PackRef& pack = index->packs[p];
      usable[p] = IsFileOfSize(packs / PackFileName(pack.sha256), pack.size);
      if (!usable[p] && bad_packs.insert(pack.sha256).second) {
        warnings.push_back(Utf8Path(index_path) + ": pack " + PackFileName(pack.sha256) +
                           " is missing or not " + std::to_string(pack.size) +
                           " bytes; its chunks are not reused");
      }
    }
    for (const IndexedChunk& chunk : index->chunks) {
      if (usable[chunk.pack]) stored_.try_emplace(chunk.sha256, StoredChunk{index->packs[chunk.pack], chunk});
    }
  }
}

bool ChunkPublisher::AddFile(const std::string& path, const fs::path& full, std::uint64_t size,
                             std::uint32_t crc, std::uint64_t& stored_size, std::string& error) {
  index_.files.push_back({path, 0, {}});
  file_ = &index_.files.back();
  std::ifstream in(full, std::ios::binary);
  if (!in) {
    error = "cannot read '" + Utf8Path(full) + "'";
    return false;
  }
  std::uint32_t running_crc = 0xFFFFFFFF;
  try {
    CutStream(
        [&](std::uint8_t* buffer, size_t capacity) {
          in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(capacity));
          if (in.bad()) throw ChunkFailure{"cannot read '" + Utf8Path(full) + "': read error"};
          return static_cast<size_t>(in.gcount());
        },
        params_,
        [&](const CutChunk& chunk, std::span<const std::uint8_t> bytes) {
          running_crc = Crc32Update(running_crc, bytes.data(), bytes.size());
          std::string chunk_error;
          if (!AddChunk(chunk.sha256, bytes, chunk_error)) throw ChunkFailure{chunk_error};
        });
  } catch (const ChunkFailure& failure) {
    error = failure.error;
    return false;
  }
  if (!FlushBatch(error)) return false;
  if (file_->size != size || ~running_crc != crc) {
    error = path + ": changed while it was published; publish again";
    return false;
  }
  stored_size = 0;
  for (const std::uint32_t number : file_->chunks) stored_size += index_.chunks[number].stored_size;
  return true;
}

bool ChunkPublisher::AddChunk(const Sha256Digest& sha256, std::span<const std::uint8_t> bytes,
                              std::string& error) {
  ++stats_.chunks;
  file_->size += bytes.size();
  if (const auto known = index_chunks_.find(sha256); known != index_chunks_.end()) {
    file_->chunks.push_back(known->second);  // repeated within this release
    return true;
  }
  const auto number = static_cast<std::uint32_t>(index_.chunks.size());
  IndexedChunk chunk;
  if (const auto stored = stored_.find(sha256); stored != stored_.end()) {
    chunk = stored->second.chunk;
    chunk.pack = PackNumber(stored->second.pack);
  } else {
    // Its stored size, method and place once the batch is compressed.
    chunk = {sha256, static_cast<std::uint32_t>(bytes.size()), 0, ChunkMethod::kStored, 0, 0};
    batch_.push_back({number, batch_bytes_.size(), {}});
    batch_bytes_.insert(batch_bytes_.end(), bytes.begin(), bytes.end());
  }
  index_.chunks.push_back(chunk);
  index_chunks_.emplace(sha256, number);
  file_->chunks.push_back(number);
  return batch_bytes_.size() < kCompressBatchSize || FlushBatch(error);
}

void ChunkPublisher::CompressBatch() {
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex failure_mutex;
  std::exception_ptr failure;
  // Each thread takes the next chunk and writes only that chunk's output.
  const auto worker = [&] {
    try {
      for (size_t i; !stop.load() && (i = next++) < batch_.size();) {
        NewChunk& added = batch_[i];
        const std::span<const std::uint8_t> bytes =
            std::span(batch_bytes_).subspan(added.from, index_.chunks[added.number].size);
        added.compressed.resize(Lzo1xCompressBound(bytes.size()));
        added.compressed.resize(Lzo1xCompressTo(bytes, level_, added.compressed));
      }
    } catch (...) {  // out of memory
      std::lock_guard<std::mutex> lock(failure_mutex);
      if (!failure) failure = std::current_exception();
      stop.store(true);
    }
  };
  {
    HelperThreads helpers(stop);
    for (size_t t = 1; t < std::min<size_t>(threads_, batch_.size()); ++t) {
      if (!helpers.Start(worker)) break;  // fewer threads share the batch
    }
    worker();
    helpers.JoinAll();
  }
  if (failure) std::rethrow_exception(failure);
}

bool ChunkPublisher::FlushBatch(std::string& error) {
  CompressBatch();
  for (const NewChunk& added : batch_) {
    IndexedChunk& chunk = index_.chunks[added.number];
    const std::span<const std::uint8_t> bytes = std::span(batch_bytes_).subspan(added.from, chunk.size);
    const bool raw = added.compressed.size() >= bytes.size();
    const std::span<const std::uint8_t> kept = raw ? bytes : std::span(added.compressed);
    if (!pack_.empty() && pack_.size() + kept.size() > kTargetPackSize && !WritePack(error)) {
      return false;
    }
    chunk.stored_size = static_cast<std::uint32_t>(kept.size());
    chunk.method = raw ? ChunkMethod::kStored : ChunkMethod::kLzo1x;
    chunk.offset = pack_.size();
    pending_.push_back(added.number);  // its pack: once named
    pack_.insert(pack_.end(), kept.begin(), kept.end());
    ++stats_.new_chunks;
    stats_.new_bytes += kept.size();
  }
  batch_.clear();
  batch_bytes_.clear();
  return true;
}

std::uint32_t ChunkPublisher::PackNumber(const PackRef& pack) {
  const auto [it, added] = index_packs_.try_emplace(pack.sha256, static_cast<std::uint32_t>(index_.packs.size()));
  if (added) index_.packs.push_back(pack);
  return it->second;
}

bool ChunkPublisher::WritePack(std::string& error) {
  const PackRef pack{Sha256Of(AsText(pack_)), pack_.size()};
  const std::uint32_t number = PackNumber(pack);
  for (const std::uint32_t chunk : pending_) index_.chunks[chunk].pack = number;
  pending_.clear();
  const fs::path folder = crcpatch_dir_ / std::string(kPackFolder);
  const fs::path path = folder / PackFileName(pack.sha256);
  // A pack is immutable once served; one of another size under its name
  // is damaged, and only then replaced.
  if (!IsFileOfSize(path, pack.size)) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!WriteReplacing(path, AsText(pack_), error)) return false;
    ++stats_.packs_written;
  }
  pack_.clear();
  return true;
}

bool ChunkPublisher::Finish(std::string& error) {
  return pack_.empty() || WritePack(error);  // AddFile left no batch
}

std::string ChunkPublisher::IndexBytes(const Sha256Digest& crclist_sha256) const {
  ChunkIndex index = index_;
  index.crclist_sha256 = crclist_sha256;
  index.params = params_;
  return FormatChunkIndex(index);
}

}  // namespace emberfall::cli
