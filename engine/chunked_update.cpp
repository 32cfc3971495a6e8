#include "engine/chunked_update.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <span>
#include <utility>

#include "core/chunker.h"
#include "core/crc32.h"
#include "core/file_apply.h"
#include "core/file_handle.h"
#include "core/file_state.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "net/url.h"

namespace emberfall {
namespace {

// Why a file's chunked update gives up; never leaves this file.
struct ChunkFallback {
  std::u16string why;
};

const IndexedFile* FindIndexedFile(const ChunkIndex& index, std::string_view path) {
  const auto it = std::lower_bound(
      index.files.begin(), index.files.end(), path,
      [](const IndexedFile& file, std::string_view wanted) { return file.path < wanted; });
  return it != index.files.end() && it->path == path ? &*it : nullptr;
}

// Reads chunks of the local file by offset. The file is read front to back;
// an offset behind the position opens it again, which a file that only
// changed in places (chunks in the same order) never needs.
class LocalReader {
 public:
  LocalReader(const HeldFolder& folder, std::u16string_view name) : folder_(folder), name_(name) {}

  // |size| bytes from |offset|; false when the file cannot give them.
  bool Read(std::uint64_t offset, std::vector<std::uint8_t>& out, size_t size) {
    if (!file_ || offset < position_) {
      file_ = OpenForSequentialReadAt(folder_, name_);
      position_ = 0;
      if (!file_) return false;
    }
    out.resize(std::max<size_t>(size, kSkipPiece));
    while (position_ < offset) {
      const auto want =
          static_cast<size_t>(std::min<std::uint64_t>(offset - position_, out.size()));
      if (!ReadFull(out.data(), want)) return false;
    }
    const bool ok = ReadFull(out.data(), size);
    out.resize(size);
    return ok;
  }

  // Windows refuses to replace a file that is open.
  void Close() { file_.reset(); }

 private:
  static constexpr size_t kSkipPiece = 65536;

  bool ReadFull(std::uint8_t* buffer, size_t size) {
    for (size_t done = 0; done < size;) {
      size_t got = 0;
      if (!ReadChunk(file_, buffer + done, size - done, got) || got == 0) return false;
      done += got;
      position_ += got;
    }
    return true;
  }

  const HeldFolder& folder_;
  std::u16string name_;
  FileHandle file_;
  std::uint64_t position_ = 0;
};

// The ContentSource of a rebuilt file: its chunks in order, each checked by
// its SHA-256 before a byte of it is handed on, and the whole checked
// against the target before the last call returns 0.
class ChunkAssembler {
 public:
  ChunkAssembler(HttpSession& http, const ChunkIndex& index, ChunkStore* store,
                 const std::u16string& packFolderUrl, const ChunkPlan& plan,
                 const ChunkedTarget& target, LocalReader& local,
                 const std::function<void(std::int64_t)>& fetched,
                 const std::function<bool()>& stopped)
      : http_(http), index_(index), store_(store), packs_(packFolderUrl), plan_(plan),
        target_(target), local_(local), fetched_(fetched), stopped_(stopped) {}

  std::int64_t resumed() const { return resumed_; }

  size_t Fill(std::uint8_t* buffer, size_t capacity) {
    size_t filled = 0;
    while (filled < capacity) {
      if (cursor_ == current_.size()) {
        if (next_ == plan_.file->chunks.size()) break;
        LoadChunk(next_++);
        cursor_ = 0;
      }
      const size_t n = std::min(capacity - filled, current_.size() - cursor_);
      std::memcpy(buffer + filled, current_.data() + cursor_, n);
      cursor_ += n;
      filled += n;
    }
    if (filled == 0) {
      local_.Close();
      CheckWhole();
    }
    return filled;
  }

 private:
  void LoadChunk(size_t position) {
    if (stopped_()) throw PatchCancelled{};
    const IndexedChunk& chunk = index_.chunks[plan_.file->chunks[position]];
    const std::uint64_t offset = plan_.localOffset[position];
    if (offset == ChunkPlan::kFetched) {
      current_ = FetchedChunk(chunk, plan_.runs[plan_.runOf[position]], plan_.runOf[position]);
    } else if (offset == ChunkPlan::kStored) {
      std::optional<std::vector<std::uint8_t>> kept = store_ ? store_->Load(chunk) : std::nullopt;
      if (kept) {
        current_ = std::move(*kept);
        resumed_ += static_cast<std::int64_t>(chunk.stored_size);
      } else {
        current_ = FetchedChunk(chunk, {chunk.pack, chunk.offset, chunk.stored_size}, kLoneRun);
      }
    } else {
      // The player's file may have changed since it was cut.
      if (!local_.Read(offset, current_, chunk.size)) throw ChunkFallback{u"local file unreadable"};
      Sha256 hasher;
      hasher.Update(current_.data(), current_.size());
      if (hasher.Final() != chunk.sha256) throw ChunkFallback{u"local file changed"};
    }
    crc_ = Crc32Update(crc_, current_.data(), current_.size());
    sha_.Update(current_.data(), current_.size());
    written_ += current_.size();
  }

  // A run fetched for one chunk the store failed to give; never kept loaded.
  static constexpr std::uint32_t kLoneRun = UINT32_MAX - 1;

  std::vector<std::uint8_t> FetchedChunk(const IndexedChunk& chunk, const ChunkRun& run,
                                         std::uint32_t runNumber) {
    if (runNumber != loadedRun_ || runNumber == kLoneRun) {
      const std::u16string url =
          JoinUrl(packs_, Utf8ToWide(PackFileName(index_.packs[run.pack].sha256)));
      const RequestOptions options{/*refresh=*/false, static_cast<std::int64_t>(run.length)};
      // Each chunk of the run goes into the store as soon as it arrived
      // whole: a run killed half way fetches that half no more.
      const std::vector<const IndexedChunk*> arriving = ChunksOf(runNumber, chunk);
      size_t kept = 0;
      const bool ok = http_.GetRange(
          url, run.offset, run.length, runBytes_,
          [&](std::int64_t received, std::int64_t) {
            fetched_(fetchedBefore_ + received);
            kept = KeepArrived(run, arriving, kept);
          },
          nullptr, options);
      if (!ok) {
        if (stopped_()) throw PatchCancelled{};
        throw ChunkFallback{url + u" | " + http_.last_error()};
      }
      fetchedBefore_ += static_cast<std::int64_t>(run.length);
      loadedRun_ = runNumber;
    }
    std::string reason;
    const std::span<const std::uint8_t> stored(runBytes_.data() + (chunk.offset - run.offset),
                                               chunk.stored_size);
    std::optional<std::vector<std::uint8_t>> bytes = DecodeChunk(chunk, stored, reason);
    if (!bytes) {
      throw ChunkFallback{u"chunk " + Utf8ToWide(HexEncode(chunk.sha256)) + u": " +
                          Utf8ToWideLenient(reason)};
    }
    return std::move(*bytes);
  }

  // The chunks run |runNumber| brings, in pack order: |first| alone for a
  // lone run, else the fetched chunks of that run from the current one on.
  std::vector<const IndexedChunk*> ChunksOf(std::uint32_t runNumber, const IndexedChunk& first) {
    if (store_ == nullptr) return {};
    if (runNumber == kLoneRun) return {&first};
    std::vector<const IndexedChunk*> chunks;
    for (size_t p = next_ - 1; p < plan_.localOffset.size(); ++p) {
      if (plan_.localOffset[p] != ChunkPlan::kFetched) continue;
      if (plan_.runOf[p] > runNumber) break;
      if (plan_.runOf[p] == runNumber) chunks.push_back(&index_.chunks[plan_.file->chunks[p]]);
    }
    return chunks;
  }

  // Keeps the chunks of |arriving| from |kept| on that arrived whole in
  // the run's buffer and decode to their SHA-256; returns how far it got.
  size_t KeepArrived(const ChunkRun& run, const std::vector<const IndexedChunk*>& arriving,
                     size_t kept) {
    for (; kept < arriving.size(); ++kept) {
      const IndexedChunk& chunk = *arriving[kept];
      const std::uint64_t at = chunk.offset - run.offset;
      if (at + chunk.stored_size > runBytes_.size()) break;
      const std::span<const std::uint8_t> stored(runBytes_.data() + at, chunk.stored_size);
      std::string reason;
      if (DecodeChunk(chunk, stored, reason)) store_->Keep(chunk, stored);
    }
    return kept;
  }

  void CheckWhole() {
    if (static_cast<std::int64_t>(written_) != target_.size) throw ChunkFallback{u"size mismatch"};
    if ((crc_ ^ 0xFFFFFFFFu) != target_.crc) throw ChunkFallback{u"CRC-32 mismatch"};
    if (target_.sha256 && sha_.Final() != *target_.sha256) throw ChunkFallback{u"SHA-256 mismatch"};
  }

  HttpSession& http_;
  const ChunkIndex& index_;
  ChunkStore* store_;
  const std::u16string& packs_;
  const ChunkPlan& plan_;
  const ChunkedTarget& target_;
  LocalReader& local_;
  const std::function<void(std::int64_t)>& fetched_;
  const std::function<bool()>& stopped_;
  std::vector<std::uint8_t> current_;
  size_t cursor_ = 0;
  size_t next_ = 0;
  std::vector<std::uint8_t> runBytes_;
  std::uint32_t loadedRun_ = UINT32_MAX;
  std::int64_t fetchedBefore_ = 0;
  std::uint32_t crc_ = 0xFFFFFFFFu;
  Sha256 sha_;
  std::uint64_t written_ = 0;
  std::int64_t resumed_ = 0;
};

// The chunks of the local file by hash: offset and size of each.
std::optional<std::map<Sha256Digest, CutChunk>> CutLocalFile(const FileHandle& file,
                                                             const ChunkerParams& params,
                                                             const std::function<bool()>& stopped) {
  struct ReadFailed {};
  std::map<Sha256Digest, CutChunk> chunks;
  try {
    CutStream(
        [&](std::uint8_t* buffer, size_t capacity) {
          if (stopped()) throw PatchCancelled{};
          size_t got = 0;
          if (!ReadChunk(file, buffer, capacity, got)) throw ReadFailed{};
          return got;
        },
        params, [&](const CutChunk& chunk, std::span<const std::uint8_t>) {
          chunks.emplace(chunk.sha256, chunk);
        });
  } catch (const ReadFailed&) {
    return std::nullopt;
  }
  return chunks;
}

}  // namespace

std::optional<ChunkIndex> FetchChunkIndex(HttpSession& http, const std::u16string& baseUrl,
                                          std::string_view listText,
                                          const std::optional<ReleaseDocument>& release) {
  std::string bytes;
  const RequestOptions options{/*refresh=*/true, static_cast<std::int64_t>(kChunkIndexLimit)};
  if (!http.GetText(JoinUrl(baseUrl, Utf8ToWide(std::string(kChunkIndexName))), bytes, options)) {
    return std::nullopt;
  }
  if (release) {
    // A signed release uses only the index it signs.
    const auto it = release->files.find(std::string(kChunkIndexSignedPath));
    if (it == release->files.end() || it->second.sha256 != Sha256Of(bytes) ||
        it->second.size != static_cast<std::int64_t>(bytes.size())) {
      return std::nullopt;
    }
  }
  std::string reason;
  std::optional<ChunkIndex> index = ParseChunkIndex(bytes, reason);
  if (!index || index->crclist_sha256 != Sha256Of(listText)) return std::nullopt;
  return index;
}

std::u16string PackFolderUrl(const std::u16string& baseUrl) {
  std::u16string url = baseUrl;
  while (!url.empty() && url.back() == u'/') url.pop_back();
  url.erase(url.find_last_of(u'/') + 1);
  return url + Utf8ToWide(std::string(kPackFolder)) + u"/";
}

std::optional<ChunkPlan> PlanChunkedUpdate(const ChunkIndex& index, const GameFolder& root,
                                           const ChunkStore* store, std::u16string_view pathWide,
                                           std::string_view path, std::int64_t size,
                                           std::int64_t payloadSize,
                                           const std::function<bool()>& stopped) {
  const IndexedFile* file = FindIndexedFile(index, path);
  if (file == nullptr || static_cast<std::int64_t>(file->size) != size ||
      size < kMinChunkedFileSize) {
    return std::nullopt;
  }
  const FolderLookup place = root.OpenParent(pathWide, /*create=*/false);
  if (place.status != FolderLookup::Status::kFound) return std::nullopt;
  const FileHandle local = OpenForSequentialReadAt(place.folder, place.name);
  if (!local) return std::nullopt;
  const std::optional<std::map<Sha256Digest, CutChunk>> have =
      CutLocalFile(local, index.params, stopped);
  if (!have) return std::nullopt;

  ChunkPlan plan;
  plan.file = file;
  for (const std::uint32_t number : file->chunks) {
    const IndexedChunk& chunk = index.chunks[number];
    const auto it = have->find(chunk.sha256);
    if (it != have->end() && it->second.size == chunk.size) {
      plan.localOffset.push_back(it->second.offset);
      plan.runOf.push_back(0);
      plan.reuseBytes += chunk.size;
      continue;
    }
    if (store != nullptr && store->Has(chunk)) {
      plan.localOffset.push_back(ChunkPlan::kStored);
      plan.runOf.push_back(0);
      plan.storedBytes += chunk.stored_size;
      continue;
    }
    plan.localOffset.push_back(ChunkPlan::kFetched);
    // A chunk right after the previous fetched one in the same pack joins
    // its run, up to the run limit.
    ChunkRun* last = plan.runs.empty() ? nullptr : &plan.runs.back();
    if (last != nullptr && last->pack == chunk.pack &&
        last->offset + last->length == chunk.offset &&
        last->length + chunk.stored_size <= kMaxChunkRunBytes) {
      last->length += chunk.stored_size;
    } else {
      plan.runs.push_back({chunk.pack, chunk.offset, chunk.stored_size});
    }
    plan.runOf.push_back(static_cast<std::uint32_t>(plan.runs.size() - 1));
    plan.fetchBytes += chunk.stored_size;
  }
  if (plan.fetchBytes * 100 >= payloadSize * kChunkedSharePercent) return std::nullopt;
  return plan;
}

ChunkedOutcome InstallFromChunks(HttpSession& http, const GameFolder& root,
                                 const ChunkIndex& index, ChunkStore* store,
                                 const std::u16string& packFolderUrl, const ChunkPlan& plan,
                                 const ChunkedTarget& target,
                                 const std::function<void(std::int64_t fetched)>& fetched,
                                 const std::function<bool()>& stopped) {
  ChunkedOutcome outcome;
  // The local file is read through its folder held from here on, so a
  // folder swapped for a link meanwhile is never read through.
  const FolderLookup place = root.OpenParent(target.pathWide, /*create=*/false);
  if (place.status != FolderLookup::Status::kFound) {
    outcome.why = u"local file gone";
    return outcome;
  }
  LocalReader local(place.folder, place.name);
  const std::function<void(std::int64_t)> received = [&](std::int64_t bytes) {
    outcome.fetched = bytes;
    fetched(bytes);
  };
  ChunkAssembler assembler(http, index, store, packFolderUrl, plan, target, local, received,
                           stopped);
  try {
    ApplyFile(
        root, target.pathWide,
        [&](std::uint8_t* buffer, size_t capacity) { return assembler.Fill(buffer, capacity); },
        target.exe);
  } catch (const ChunkFallback& fallback) {
    outcome.why = fallback.why;
    return outcome;
  }
  outcome.installed = true;
  outcome.resumed = assembler.resumed();
  return outcome;
}

}  // namespace emberfall
