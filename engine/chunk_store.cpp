#include "engine/chunk_store.h"

#include <exception>
#include <string>

#include "core/file_apply.h"
#include "core/file_state.h"
#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::u16string_view kKeyName = u"key";

std::string KeyText(const ChunkIndex& index) {
  return "emb-chunks 1\n" + HexEncode(index.crclist_sha256) + "\n";
}

std::u16string EntryName(const IndexedChunk& chunk) { return Utf8ToWide(HexEncode(chunk.sha256)); }

// A name inside the store's folder, for walking to it.
std::u16string InStore(std::u16string_view name) {
  return std::u16string(kChunkStoreFolderName) + u"/" + std::u16string(name);
}

// |name| in |folder| when it is a regular file (no link followed) of exactly
// |size| bytes; the size is asked before a byte is read, so a planted giant
// costs nothing.
std::optional<std::vector<std::uint8_t>> ReadExactly(const HeldFolder& folder,
                                                     std::u16string_view name, std::uint64_t size) {
  const FileHandle file = OpenForSequentialReadAt(folder, name);
  const std::optional<FileState> state = QueryFileState(file);
  if (!state || state->size != size) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<size_t>(size));
  for (size_t filled = 0; filled < bytes.size();) {
    size_t got = 0;
    if (!ReadChunk(file, bytes.data() + filled, bytes.size() - filled, got) || got == 0) {
      return std::nullopt;
    }
    filled += got;
  }
  return bytes;
}

// The size of |name| in |folder| when it is a regular file, links not followed.
std::optional<std::uint64_t> EntrySize(const HeldFolder& folder, std::u16string_view name) {
  const std::optional<FileState> state = QueryFileState(OpenForAttributesAt(folder, name));
  if (!state) return std::nullopt;
  return state->size;
}

}  // namespace

ChunkStore::ChunkStore(const GameFolder& root, const ChunkIndex& index, std::uint64_t limit)
    : root_(root), limit_(limit) {
  try {
    const std::optional<HeldFolder> folder = Folder(/*create=*/true);
    if (!folder) return;
    const HeldFolder& held = *folder;
    const std::string key = KeyText(index);
    const std::optional<std::vector<std::uint8_t>> found = ReadExactly(held, kKeyName, key.size());
    const bool same = found && std::string(found->begin(), found->end()) == key;
    std::uint64_t used = 0;
    for (const std::u16string& name : ListNamesAt(held)) {
      // What the store holds counts against its limit, whoever put it there.
      const std::optional<std::uint64_t> size = same ? EntrySize(held, name) : std::nullopt;
      if (size) {
        used += *size;
      } else {
        RemoveFileAt(held, name);
      }
    }
    if (!same && WriteExclusiveFileAt(held, kKeyName, reinterpret_cast<const std::uint8_t*>(key.data()),
                                      key.size()) != 0) {
      return;
    }
    used_ = used;
    open_ = true;
  } catch (const std::exception&) {
    // Out of memory: no store.
  }
}

std::optional<HeldFolder> ChunkStore::Folder(bool create) const {
  FolderLookup lookup = root_.OpenParent(InStore(kKeyName), create);
  if (lookup.status != FolderLookup::Status::kFound) return std::nullopt;
  return std::move(lookup.folder);
}

bool ChunkStore::Has(const IndexedChunk& chunk) const {
  if (!open_) return false;
  try {
    const std::optional<HeldFolder> folder = Folder(false);
    const std::optional<std::uint64_t> size =
        folder ? EntrySize(*folder, EntryName(chunk)) : std::nullopt;
    return size && *size == chunk.stored_size;
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<std::vector<std::uint8_t>> ChunkStore::Load(const IndexedChunk& chunk) const {
  if (!open_) return std::nullopt;
  try {
    const std::optional<HeldFolder> folder = Folder(false);
    if (!folder) return std::nullopt;
    const std::u16string name = EntryName(chunk);
    const std::optional<std::vector<std::uint8_t>> stored =
        ReadExactly(*folder, name, chunk.stored_size);
    std::string reason;
    // Decoded from the bytes just read and checked by SHA-256: what is
    // handed on is what was checked, whatever changes in the store later.
    std::optional<std::vector<std::uint8_t>> bytes =
        stored ? DecodeChunk(chunk, *stored, reason) : std::nullopt;
    if (!bytes) RemoveFileAt(*folder, name);
    return bytes;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void ChunkStore::Keep(const IndexedChunk& chunk, std::span<const std::uint8_t> stored) {
  if (!open_) return;
  // Taken before writing, so that overlapping calls never pass the limit together.
  if (used_.fetch_add(stored.size()) + stored.size() > limit_) {
    used_.fetch_sub(stored.size());
    return;
  }
  try {
    const std::optional<HeldFolder> folder = Folder(false);
    const std::u16string name = EntryName(chunk);
    // Not flushed: every read checks the entry, so one cut short by a crash
    // is only refetched, and a run keeps its chunks as fast as they come.
    if (folder && WriteExclusiveFileAt(*folder, name, stored.data(), stored.size(),
                                       FileFlush::kCached) == 0) {
      return;
    }
    // Something else holds the name (a chunk another job kept meanwhile, or
    // whatever was planted); a half-written file of ours goes.
    if (folder && !Has(chunk)) RemoveFileAt(*folder, name);
  } catch (const std::exception&) {
  }
  used_.fetch_sub(stored.size());
}

void RemoveChunkStore(const GameFolder& root) {
  try {
    {
      const FolderLookup store = root.OpenParent(InStore(kKeyName), false);
      if (store.status != FolderLookup::Status::kFound) return;
      for (const std::u16string& name : ListNamesAt(store.folder)) RemoveFileAt(store.folder, name);
    }
    // Only now: Windows removes no folder that is held open.
    const FolderLookup top = root.OpenParent(kChunkStoreFolderName, false);
    if (top.status == FolderLookup::Status::kFound) RemoveEmptyFolderAt(top.folder, top.name);
  } catch (const std::exception&) {
    // Out of memory: the store stays until a later run.
  }
}

}  // namespace emberfall
