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

namespace emberfall {

std::optional<FileState> QueryFileState(const std::u16string& path) {
  const FileHandle file = OpenForAttributes(path);
  if (!file.is_valid()) return std::nullopt;
  return QueryFileState(file);
}

FileCheck CheckFile(const CrcListEntry& entry, const std::u16string& gameFolder,
                    const FileStateCache* cache, HashBuffer& buffer) {
  FileCheck check;
  const std::u16string path = JoinRelativePath(gameFolder, entry.path_wide);
  const auto expected_size = static_cast<std::uint64_t>(entry.size);

  const std::optional<FileState> state = QueryFileState(path);
  if (!state || state->size != expected_size) return check;

  if (cache != nullptr) {
    const auto it = cache->records.find(PathKey(entry.path_wide));
    if (it != cache->records.end() && it->second.state == *state) {
      check.matches = it->second.crc == entry.crc;
      return check;
    }
  }

  FileHandle file = OpenForSequentialRead(path);
  if (!file.is_valid()) return check;
  // The state is taken again from the handle that is hashed: the file may
  // have been replaced between the two opens.
  const std::optional<FileState> read_state = QueryFileState(file);
  if (!read_state || read_state->size != expected_size) return check;
  if (!Crc32File(file, check.crc, buffer)) return check;
  check.hashedState = read_state;
  check.matches = check.crc == entry.crc;
  return check;
}

std::vector<FileCheck> CheckFiles(const std::vector<CrcListEntry>& entries,
                                  const std::u16string& gameFolder, const FileStateCache* cache,
                                  unsigned threads, const std::atomic<bool>* cancel,
                                  const std::function<void(size_t i, size_t done)>& beforeEach) {
  std::vector<FileCheck> checks(entries.size());
  std::atomic<size_t> next{0};
  std::atomic<size_t> finished{0};
  std::atomic<bool> stop{false};
  const auto keepGoing = [&] { return !stop.load() && (cancel == nullptr || !cancel->load()); };

  std::mutex failureMutex;
  std::exception_ptr failure;
  HelperThreads helpers(stop);
  const size_t wanted = std::min<size_t>(std::max(threads, 1u), entries.size());
  for (size_t t = 1; t < wanted; ++t) {
    const bool started = helpers.Start([&] {
      try {
        HashBuffer buffer;
        buffer.set_cancel_flag(cancel);
        for (size_t i = 0; keepGoing() && (i = next.fetch_add(1)) < entries.size();) {
          checks[i] = CheckFile(entries[i], gameFolder, cache, buffer);
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
  for (size_t i = 0; keepGoing() && (i = next.fetch_add(1)) < entries.size();) {
    if (beforeEach) beforeEach(i, finished.load());
    checks[i] = CheckFile(entries[i], gameFolder, cache, buffer);
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
  const FileCheck check = CheckFile(entry, gameFolder, cache, *buffer);
  if (cache != nullptr && check.hashedState) {
    RecordFileState(*cache, entry.path_wide, *check.hashedState, check.crc);
  }
  return check.matches;
}

}  // namespace emberfall
