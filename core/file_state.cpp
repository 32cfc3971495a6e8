#include "core/file_state.h"

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/text.h"

namespace emberfall {

std::optional<FileState> QueryFileState(const std::u16string& path) {
  const FileHandle file = OpenForAttributes(path);
  if (!file.is_valid()) return std::nullopt;
  return QueryFileState(file);
}

bool FileMatchesEntry(const CrcListEntry& entry, const std::u16string& gameFolder,
                      FileStateCache* cache, HashBuffer* buffer) {
  const std::u16string path = JoinRelativePath(gameFolder, entry.path_wide);
  const auto expected_size = static_cast<std::uint64_t>(entry.size);

  const std::optional<FileState> state = QueryFileState(path);
  if (!state || state->size != expected_size) return false;

  if (cache != nullptr) {
    const auto it = cache->records.find(PathKey(entry.path_wide));
    if (it != cache->records.end() && it->second.state == *state) return it->second.crc == entry.crc;
  }

  FileHandle file = OpenForSequentialRead(path);
  if (!file.is_valid()) return false;
  // The state is taken again from the handle that is hashed: the file may
  // have been replaced between the two opens.
  const std::optional<FileState> read_state = QueryFileState(file);
  if (!read_state || read_state->size != expected_size) return false;
  std::optional<HashBuffer> own_buffer;
  if (buffer == nullptr) buffer = &own_buffer.emplace();
  std::uint32_t crc = 0;
  if (!Crc32File(file, crc, *buffer)) return false;
  file.Close();

  if (cache != nullptr) RecordFileState(*cache, entry.path_wide, *read_state, crc);
  return crc == entry.crc;
}

}  // namespace emberfall
