// Publishing a release as chunks: every file cut by content
// (core/chunker.h), each chunk stored once per web root in packs shared by
// all its releases, and the release's chunk index (core/chunk_index.h).
#ifndef EMBERFALL_TOOLS_EMBPATCH_CHUNK_PUBLISHER_H_
#define EMBERFALL_TOOLS_EMBPATCH_CHUNK_PUBLISHER_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "core/chunk_index.h"
#include "core/lzo1x_compress.h"

namespace emberfall::cli {

// New packs are closed once they reach about this size: large enough that
// a fresh install is a few hundred requests per GiB, small enough that a
// pack is written (and held) at once.
inline constexpr std::uint64_t kTargetPackSize = 4 * 1024 * 1024;
// New chunks are compressed together, on every thread, once this many of
// their bytes have gathered (and at the end of every file).
inline constexpr size_t kCompressBatchSize = 8 * 1024 * 1024;

struct ChunkPublishStats {
  std::uint64_t chunks = 0;        // chunk occurrences of every file
  std::uint64_t new_chunks = 0;    // stored by this run
  std::uint64_t new_bytes = 0;     // their stored bytes
  std::uint64_t packs_written = 0;
};

// Not thread-safe: one publisher per run, fed the files in order. It starts
// helper threads of its own to compress; the packs and the index are the
// same bytes whatever their number.
class ChunkPublisher {
 public:
  // |crcpatch_dir|: the web root's folder of version folders; the packs go
  // into its "packs" folder. Files are cut with |params| (valid: see
  // IsValidChunkerParams), chunks compressed at |level| on |threads|
  // threads (0: one per core, at most eight).
  ChunkPublisher(std::filesystem::path crcpatch_dir, Lzo1xLevel level,
                 ChunkerParams params = kDefaultChunkerParams, unsigned threads = 0);

  // Collects what the indexes of the version folders in |crcpatch_dir|
  // already store, so that no chunk is stored twice. An index that does not
  // parse, or a pack it names that is missing or of another size, adds a
  // line to |warnings| and nothing to the store. Where two indexes store a
  // chunk apart, the one in the version folder named |preferred| wins.
  void LoadStored(const std::filesystem::path& preferred, std::vector<std::string>& warnings);

  // Cuts |full| as it streams, stores its new chunks and adds it to the
  // index under |path|. Paths must come in strictly ascending byte order.
  // The file must still have |size| bytes and CRC-32 |crc| (what the crclist
  // says). |stored_size| receives the stored bytes of its chunks. False with
  // |error| set on a read or write failure.
  bool AddFile(const std::string& path, const std::filesystem::path& full, std::uint64_t size,
               std::uint32_t crc, std::uint64_t& stored_size, std::string& error);

  // Writes the last pack. False with |error| set on failure.
  bool Finish(std::string& error);

  // The index's bytes for the CRC list whose SHA-256 is |crclist_sha256|;
  // after Finish.
  std::string IndexBytes(const Sha256Digest& crclist_sha256) const;

  const ChunkPublishStats& stats() const { return stats_; }

 private:
  struct StoredChunk {
    PackRef pack;
    IndexedChunk chunk;  // its pack field unused
  };

  // A chunk new to the web root, waiting in batch_ to be compressed.
  struct NewChunk {
    std::uint32_t number;  // into index_.chunks
    size_t from;           // its bytes in batch_bytes_
    std::vector<std::uint8_t> compressed;
  };

  bool AddChunk(const Sha256Digest& sha256, std::span<const std::uint8_t> bytes,
                std::string& error);
  // Compresses the batch and puts its chunks into packs in the order they
  // came, whatever order the threads finish in.
  bool FlushBatch(std::string& error);
  void CompressBatch();
  std::uint32_t PackNumber(const PackRef& pack);
  bool WritePack(std::string& error);

  std::filesystem::path crcpatch_dir_;
  Lzo1xLevel level_;
  ChunkerParams params_;
  unsigned threads_;
  std::map<Sha256Digest, StoredChunk> stored_;  // in other releases' packs
  ChunkIndex index_;
  std::map<Sha256Digest, std::uint32_t> index_chunks_;  // into index_.chunks
  std::map<Sha256Digest, std::uint32_t> index_packs_;   // into index_.packs
  // The pack being filled and its chunks (into index_.chunks), whose pack
  // is named only when it is written.
  std::vector<std::uint8_t> pack_;
  std::vector<std::uint32_t> pending_;
  std::vector<NewChunk> batch_;
  std::vector<std::uint8_t> batch_bytes_;
  IndexedFile* file_ = nullptr;           // the file being added
  ChunkPublishStats stats_;
};

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_CHUNK_PUBLISHER_H_
