// Updating a file from chunks: a file the player has in an older version is
// rebuilt from the chunks it already holds and the few it lacks, fetched
// from the release's packs with Range requests, instead of downloading its
// whole payload (see core/chunk_index.h and docs/chunked-updates.md).
//
// Everything here is a shortcut the run may skip: an index that is missing,
// unreadable or not the one the release names means no chunks, and a file
// whose chunked update fails in any way is left untouched for the
// whole-file path to take over.
#ifndef EMBERFALL_ENGINE_CHUNKED_UPDATE_H_
#define EMBERFALL_ENGINE_CHUNKED_UPDATE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/chunk_index.h"
#include "core/crypto.h"
#include "core/game_folder.h"
#include "core/release_document.h"
#include "engine/chunk_store.h"
#include "net/http_session.h"

namespace emberfall {

// Files below this size always come whole: a chunked update would save little.
inline constexpr std::int64_t kMinChunkedFileSize = 1048576;
// The chunked path is taken when what it fetches is below this share (in
// percent) of the whole payload.
inline constexpr std::int64_t kChunkedSharePercent = 70;
// The longest run of adjacent chunks one Range request asks for, which is
// also what a file's chunked update holds of the pack in memory at a time.
inline constexpr std::uint64_t kMaxChunkRunBytes = 4194304;

// The chunk index of the release whose crclist |listText| came from
// |baseUrl|, fetched once from the same base. Returns it only when it parses,
// names |listText| by its SHA-256 and, when |release| is given, has the
// SHA-256 and size of the release's kChunkIndexSignedPath entry (a signed
// release without that entry has no chunks). nullopt otherwise, including
// any network failure. Does not throw.
std::optional<ChunkIndex> FetchChunkIndex(HttpSession& http, const std::u16string& baseUrl,
                                          std::string_view listText,
                                          const std::optional<ReleaseDocument>& release);

// "packs/" beside the version folder |baseUrl| ("<crcpatch url><version>/").
std::u16string PackFolderUrl(const std::u16string& baseUrl);

// One Range request: |length| stored bytes from |offset| of pack |pack|.
struct ChunkRun {
  std::uint32_t pack = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// How one file is rebuilt: for every chunk of its new version, in order,
// where its bytes come from.
struct ChunkPlan {
  static constexpr std::uint64_t kFetched = UINT64_MAX;
  static constexpr std::uint64_t kStored = UINT64_MAX - 1;
  const IndexedFile* file = nullptr;      // into the index the plan was made from
  std::vector<std::uint64_t> localOffset;  // per chunk: in the local file, kFetched or kStored
  std::vector<std::uint32_t> runOf;        // per chunk: into runs (fetched chunks only)
  std::vector<ChunkRun> runs;              // in file order
  std::int64_t fetchBytes = 0;             // the runs' lengths summed
  std::int64_t reuseBytes = 0;             // the local chunks' sizes summed
  std::int64_t storedBytes = 0;            // the stored sizes of the chunks in the store
};

// Cuts the file |pathWide| below |root| (|path| as the crclist spells it)
// with |index|'s parameters and plans its update to the new version of
// |size| bytes. nullopt (take the whole payload of |payloadSize| bytes) when
// the index has no such file or another size, the file is smaller than
// kMinChunkedFileSize, missing, a link or unreadable, or the runs to fetch
// reach kChunkedSharePercent of |payloadSize|. A chunk the local file lacks
// but |store| (may be null) has is taken from there, not fetched. Reads the
// whole local file; throws PatchCancelled as soon as |stopped| says so.
std::optional<ChunkPlan> PlanChunkedUpdate(const ChunkIndex& index, const GameFolder& root,
                                           const ChunkStore* store, std::u16string_view pathWide,
                                           std::string_view path, std::int64_t size,
                                           std::int64_t payloadSize,
                                           const std::function<bool()>& stopped);

// What the rebuilt file must be.
struct ChunkedTarget {
  std::u16string pathWide;
  std::u16string exe;  // the launcher's own file below the root, for ApplyFile
  std::uint32_t crc = 0;
  std::int64_t size = 0;
  std::optional<Sha256Digest> sha256;  // signed releases
};

// How InstallFromChunks ended.
struct ChunkedOutcome {
  bool installed = false;
  std::u16string why;         // not installed: the reason
  std::int64_t fetched = 0;   // stored bytes received, also when not installed
  std::int64_t resumed = 0;   // installed: stored bytes taken from the store
};

// Rebuilds |target| from |plan| into its staged file, chunk by chunk (local
// chunks re-read and re-hashed, stored and fetched ones decoded and hashed),
// checks its size, CRC-32 and signed SHA-256, and puts it in place with
// ApplyFile. Each fetched chunk goes into |store| (may be null) as soon as
// it arrived whole and decoded to its SHA-256, while the rest of its run is
// still coming; a chunk the plan takes from the store but the store no
// longer gives good is fetched alone. Not
// installed, with the target untouched, when a range is refused or fails, a
// fetched chunk does not decode to its hash, the local file changed, or the
// result fails a check. Throws PatchCancelled when |stopped| says so, and
// ApplyFile's failures. |fetched| gets the stored bytes received so far;
// all on this thread.
ChunkedOutcome InstallFromChunks(HttpSession& http, const GameFolder& root,
                                 const ChunkIndex& index, ChunkStore* store,
                                 const std::u16string& packFolderUrl, const ChunkPlan& plan,
                                 const ChunkedTarget& target,
                                 const std::function<void(std::int64_t fetched)>& fetched,
                                 const std::function<bool()>& stopped);

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_CHUNKED_UPDATE_H_
