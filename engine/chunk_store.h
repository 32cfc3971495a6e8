// Chunks fetched for chunked updates, kept in the game folder until a run
// succeeds, so that a run that is killed, cancelled or loses the network
// fetches again only what was in flight when it stopped. The store is the
// folder kChunkStoreFolderName at the top of the game folder: a file "key"
// naming the release (the SHA-256 of its crclist, which the chunk index
// names too) and one file per chunk, named by the chunk's SHA-256 in hex and
// holding its stored (pack) bytes. A store of another release is emptied
// when opened; a successful run removes it (RemoveChunkStore).
//
// The launcher runs elevated and the player can write the game folder, so
// nothing in the store is trusted: no link is followed or written through
// (every use walks to the folder afresh through GameFolder; entries are
// created exclusively), an entry of another size than the
// chunk's stored size is refused before it is read, and every entry read is
// decoded and checked against its SHA-256 on the very bytes handed on. A
// bad entry is removed and its chunk fetched. Everything here is best
// effort: nothing throws, and a store that cannot be opened keeps nothing.
#ifndef EMBERFALL_ENGINE_CHUNK_STORE_H_
#define EMBERFALL_ENGINE_CHUNK_STORE_H_

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/chunk_index.h"
#include "core/game_folder.h"

namespace emberfall {

// The most bytes the store holds, counting what earlier runs left in it:
// enough for the fetch of a large update, small beside a game. A chunk that
// would pass it is used but not kept.
inline constexpr std::uint64_t kChunkStoreLimit = 268435456;

class ChunkStore {
 public:
  // Opens the store of the release |index| belongs to below |root|, making
  // it when missing and emptying it when it belongs to another release.
  // When its folder is a link or cannot be made or read, the store is
  // closed: it holds and keeps nothing. |root| must outlive this. Holds no
  // folder open between calls.
  ChunkStore(const GameFolder& root, const ChunkIndex& index,
             std::uint64_t limit = kChunkStoreLimit);

  // Whether an entry of |chunk|'s stored size is there; says nothing about
  // its bytes (Load checks them). Any thread.
  bool Has(const IndexedChunk& chunk) const;

  // |chunk| decoded from its entry and checked against its SHA-256; nullopt,
  // with the entry removed, when it is missing, a link, not of the chunk's
  // stored size, unreadable or not the chunk. Any thread.
  std::optional<std::vector<std::uint8_t>> Load(const IndexedChunk& chunk) const;

  // Keeps |stored|, the stored bytes of |chunk| as a pack holds them, unless
  // they would take the store past its limit or an entry is already there.
  // Any thread; calls may overlap.
  void Keep(const IndexedChunk& chunk, std::span<const std::uint8_t> stored);

  // The bytes the store holds by its own count.
  std::uint64_t used() const { return used_.load(); }

 private:
  // The store's folder, walked to without following a link; nullopt when
  // it is a link or not there (any more).
  std::optional<HeldFolder> Folder(bool create) const;

  const GameFolder& root_;
  bool open_ = false;
  std::uint64_t limit_;
  std::atomic<std::uint64_t> used_{0};
};

// Removes the store below |root|: its files (a link is removed itself, never
// followed; a folder planted inside stays, and so does the store's folder
// then). After a run that succeeded.
void RemoveChunkStore(const GameFolder& root);

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_CHUNK_STORE_H_
