// Reading the chunk index of a publication and the packs it points to, as a
// chunk-aware launcher would: for signing, for verify-publication and for
// update-cost. The format is core/chunk_index.h.
#ifndef EMBERFALL_TOOLS_EMBPATCH_PUBLISHED_CHUNKS_H_
#define EMBERFALL_TOOLS_EMBPATCH_PUBLISHED_CHUNKS_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/chunk_index.h"

namespace emberfall::cli {

struct PublishedIndex {
  ChunkIndex index;
  std::string bytes;                   // the index file as read
  std::filesystem::path packs_folder;  // "packs" beside the version folder
};

// The packs folder of the version folders beside |version_dir|.
std::filesystem::path PacksFolderOf(const std::filesystem::path& version_dir);

// Reads "<version_dir>/crclist.chunks". nullopt with |problem| empty when
// there is none; nullopt with |problem| set when it does not parse or, given
// |crclist| (the CRC list's bytes), names another CRC list.
std::optional<PublishedIndex> ReadPublishedIndex(const std::filesystem::path& version_dir,
                                                 std::optional<std::string_view> crclist,
                                                 std::string& problem);

// The entry of |path| in |index|, or null.
const IndexedFile* FindIndexedFile(const ChunkIndex& index, std::string_view path);

// |file| put together from its chunks in the packs, each chunk decoded and
// checked against its SHA-256 (DecodeChunk). nullopt with |problem| set when
// a pack is missing or short or a chunk does not decode.
std::optional<std::vector<std::uint8_t>> ReassembleFile(const PublishedIndex& published,
                                                        const IndexedFile& file,
                                                        std::string& problem);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_PUBLISHED_CHUNKS_H_
