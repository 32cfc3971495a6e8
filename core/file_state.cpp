#include "core/file_state.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/helper_threads.h"
#include "core/text.h"
#include "core/verified_hashes.h"

namespace emberfall {

std::optional<FileState> QueryFileState(const std::u16string& path) {
  const FileHandle file = OpenForAttributes(path);
  if (!file.is_valid()) return std::nullopt;
  return QueryFileState(file);
}

std::optional<FileState> QueryFileStateBelow(const GameFolder& root, std::u16string_view relative) {
  const FolderLookup place = root.OpenParent(relative, /*create=*/false);
  if (place.status != FolderLookup::Status::kFound) return std::nullopt;
  return QueryFileState(OpenForAttributesAt(place.folder, place.name));
}

bool ReadOwnFile(const std::u16string& path, std::uint64_t limit, std::string& bytes) {
  bytes.clear();
  const FileHandle file = OpenOwnFileForRead(path);
  if (!file.is_valid()) return false;
  const std::optional<FileState> state = QueryFileState(file);
  if (!state || state->size > limit) return false;
  // Sized reads: a large game's cache is megabytes, which a stream read a
  // few kilobytes at a time takes noticeably long to load.
  bytes.resize(static_cast<size_t>(state->size));
  size_t filled = 0;
  while (filled < bytes.size()) {
    size_t got = 0;
    if (!ReadChunk(file, bytes.data() + filled, bytes.size() - filled, got)) return false;
    if (got == 0) break;
    filled += got;
  }
  bytes.resize(filled);
  return true;
}

FileCheck CheckFile(const CrcListEntry& entry, const GameFolder& root, const CheckRecords& records,
                    const Sha256Digest* signedHash, HashBuffer& buffer, FolderCursor& cursor) {
  FileCheck check;
  const auto expected_size = static_cast<std::uint64_t>(entry.size);
  const FolderLookup& place = cursor.Find(root, entry.path_wide);
  if (place.status == FolderLookup::Status::kLink) check.linkAt = place.at;
  if (place.status != FolderLookup::Status::kFound) return check;

  const std::optional<FileState> state = QueryFileState(OpenForAttributesAt(place.folder, place.name));
  if (!state || state->size != expected_size) return check;

  // The records answer when they know this very state: a CRC-32 that
  // differs settles it, and a signed run also needs the SHA-256 proven.
  if (records.cache != nullptr) {
    const auto it = records.cache->records.find(PathKey(entry.path_wide));
    if (it != records.cache->records.end() && it->second.state == *state) {
      if (it->second.crc != entry.crc) return check;
      if (signedHash == nullptr) {
        check.matches = true;
        return check;
      }
      const Sha256Digest* known = records.verified != nullptr
                                      ? FindVerifiedHash(*records.verified, entry.path_wide, *state)
                                      : nullptr;
      if (known != nullptr) {
        check.matches = *known == *signedHash;
        return check;
      }
    }
  }

  FileHandle file = OpenForSequentialReadAt(place.folder, place.name);
  if (!file.is_valid()) return check;
  // The state is taken again from the handle that is hashed: the file may
  // have been replaced between the two opens.
  const std::optional<FileState> read_state = QueryFileState(file);
  if (!read_state || read_state->size != expected_size) return check;
  std::optional<Sha256> sha;
  if (signedHash != nullptr) sha.emplace();
  if (!Crc32File(file, check.crc, buffer, sha ? &*sha : nullptr)) return check;
  check.hashedState = read_state;
  if (sha) check.sha256 = sha->Final();
  check.matches = check.crc == entry.crc && (signedHash == nullptr || *check.sha256 == *signedHash);
  return check;
}

std::vector<FileCheck> CheckFiles(const std::vector<CrcListEntry>& entries, const GameFolder& root,
                                  const CheckRecords& records,
                                  std::span<const Sha256Digest> signedHashes, unsigned threads,
                                  const std::atomic<bool>* cancel,
                                  const std::function<void(size_t i, size_t done)>& beforeEach) {
  std::vector<FileCheck> checks(entries.size());
  std::atomic<size_t> next{0};
  std::atomic<size_t> finished{0};
  std::atomic<bool> stop{false};
  const auto keepGoing = [&] { return !stop.load() && (cancel == nullptr || !cancel->load()); };
  const auto signedHash = [&](size_t i) {
    return signedHashes.empty() ? nullptr : &signedHashes[i];
  };

  std::mutex failureMutex;
  std::exception_ptr failure;
  HelperThreads helpers(stop);
  const size_t wanted = std::min<size_t>(std::max(threads, 1u), entries.size());
  for (size_t t = 1; t < wanted; ++t) {
    const bool started = helpers.Start([&] {
      try {
        HashBuffer buffer;
        buffer.set_cancel_flag(cancel);
        FolderCursor cursor;
        for (size_t i = 0; keepGoing() && (i = next.fetch_add(1)) < entries.size();) {
          checks[i] = CheckFile(entries[i], root, records, signedHash(i), buffer, cursor);
          finished.fetch_add(1);
        }
      } catch (...) {
        std::lock_guard<std::mutex> lock(failureMutex);
        if (!failure) failure = std::current_exception();
        stop.store(true);
      }
    });
    if (!started) break;
  }

  HashBuffer buffer;
  buffer.set_cancel_flag(cancel);
  FolderCursor cursor;
  for (size_t i = 0; keepGoing() && (i = next.fetch_add(1)) < entries.size();) {
    if (beforeEach) beforeEach(i, finished.load());
    checks[i] = CheckFile(entries[i], root, records, signedHash(i), buffer, cursor);
    finished.fetch_add(1);
  }
  helpers.JoinAll();
  if (failure) std::rethrow_exception(failure);
  return checks;
}

bool FileMatchesEntry(const CrcListEntry& entry, const std::u16string& gameFolder,
                      FileStateCache* cache, HashBuffer* buffer) {
  std::optional<HashBuffer> own_buffer;
  if (buffer == nullptr) buffer = &own_buffer.emplace();
  const GameFolder root(gameFolder);
  FolderCursor cursor;
  const FileCheck check =
      CheckFile(entry, root, CheckRecords{cache, nullptr}, nullptr, *buffer, cursor);
  if (cache != nullptr && check.hashedState) {
    RecordFileState(*cache, entry.path_wide, *check.hashedState, check.crc);
  }
  return check.matches;
}

}  // namespace emberfall
