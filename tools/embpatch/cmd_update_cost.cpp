// embpatch update-cost: what moving a player from one release to another
// costs with chunks and with whole-file payloads, from the two releases'
// chunk indexes in a web root.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "core/chunk_index.h"
#include "core/crc_list.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/safe_path.h"
#include "core/text.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"
#include "tools/embpatch/published_chunks.h"
#include "tools/embpatch/release_signing.h"

namespace emberfall::cli {
namespace {

namespace fs = std::filesystem;

struct UpdateCost {
  std::uint64_t changed_files = 0;
  std::uint64_t download_bytes = 0;
  std::uint64_t requests = 0;
  std::uint64_t reused_bytes = 0;
  std::uint64_t whole_file_bytes = 0;
};

std::vector<Sha256Digest> ChunkHashes(const ChunkIndex& index, const IndexedFile& file) {
  std::vector<Sha256Digest> hashes;
  for (const std::uint32_t number : file.chunks) hashes.push_back(index.chunks[number].sha256);
  return hashes;
}

// The chunks a player with |from| installed needs for |to|, downloaded in
// runs of chunks adjacent in one pack, one request per run; what else the
// changed files hold is copied from the files already there.
UpdateCost ChunkCost(const ChunkIndex& from, const ChunkIndex& to, std::vector<std::string>& changed) {
  UpdateCost cost;
  std::set<Sha256Digest> local;
  std::map<std::string_view, std::vector<Sha256Digest>> installed;
  for (const IndexedFile& file : from.files) {
    installed[file.path] = ChunkHashes(from, file);
    local.insert(installed[file.path].begin(), installed[file.path].end());
  }
  std::set<std::uint32_t> needed;
  for (const IndexedFile& file : to.files) {
    const auto old = installed.find(file.path);
    if (old != installed.end() && old->second == ChunkHashes(to, file)) continue;
    changed.push_back(file.path);
    for (const std::uint32_t number : file.chunks) {
      const IndexedChunk& chunk = to.chunks[number];
      if (local.count(chunk.sha256)) {
        cost.reused_bytes += chunk.size;
      } else {
        needed.insert(number);
      }
    }
  }
  std::vector<const IndexedChunk*> fetch;
  for (const std::uint32_t number : needed) fetch.push_back(&to.chunks[number]);
  std::sort(fetch.begin(), fetch.end(), [](const IndexedChunk* a, const IndexedChunk* b) {
    return std::pair(a->pack, a->offset) < std::pair(b->pack, b->offset);
  });
  const IndexedChunk* previous = nullptr;
  for (const IndexedChunk* chunk : fetch) {
    const bool continues = previous && previous->pack == chunk->pack &&
                           previous->offset + previous->stored_size == chunk->offset;
    if (!continues) ++cost.requests;
    cost.download_bytes += chunk->stored_size;
    previous = chunk;
  }
  cost.changed_files = changed.size();
  return cost;
}

// The payload bytes of |changed| in |version_dir|: each payload's size, or
// the crclist's packed size where the release has no payloads.
std::uint64_t WholeFileBytes(const fs::path& version_dir, const std::vector<std::string>& changed) {
  std::map<std::string, std::int64_t> packed;
  std::string text, error;
  if (ReadWholeFile(Utf8Path(version_dir / "crclist"), text, error)) {
    try {
      for (const CrcListEntry& entry : ParseCrcList(text)) packed[entry.path] = entry.packed_size;
    } catch (const PatchFailure&) {
      packed.clear();
    }
  }
  std::uint64_t bytes = 0;
  for (const std::string& path : changed) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(version_dir / FsPathFromUtf8(path + ".lz"), ec);
    if (!ec) {
      bytes += size;
    } else if (const auto it = packed.find(path); it != packed.end() && it->second > 0) {
      bytes += static_cast<std::uint64_t>(it->second);
    }
  }
  return bytes;
}

bool FindVersion(const ParsedArgs& parsed, const std::string& version, fs::path& version_dir,
                 std::string& error) {
  const fs::path web_root = FsPathFromUtf8(*parsed.Value("--web-root"));
  const std::optional<std::string> crcpatch_path = parsed.Value("--crcpatch-path");
  if (!crcpatch_path) return FindVersionDir(web_root, version, version_dir, error);
  std::u16string ignored;
  if ((!crcpatch_path->empty() && !IsSafeRelativePath(Utf8ToWide(*crcpatch_path), ignored)) ||
      !IsSafeRelativePath(Utf8ToWide(version), ignored) || version.find_first_of("/\\") != std::string::npos) {
    error = "cannot map version '" + version + "' under '" + *crcpatch_path + "' into the web root";
    return false;
  }
  version_dir = web_root / FsPathFromUtf8(*crcpatch_path) / FsPathFromUtf8(version);
  return true;
}

std::optional<PublishedIndex> ReadVersionIndex(const ParsedArgs& parsed, const std::string& version,
                                               fs::path& version_dir, std::string& error) {
  if (!FindVersion(parsed, version, version_dir, error)) return std::nullopt;
  std::optional<PublishedIndex> published = ReadPublishedIndex(version_dir, std::nullopt, error);
  if (!published && error.empty()) {
    error = Utf8Path(version_dir / std::string(kChunkIndexName)) + ": missing; publish with chunks";
  }
  return published;
}

}  // namespace

int RunUpdateCost(const ParsedArgs& parsed) {
  std::string error;
  fs::path from_dir, to_dir;
  const std::optional<PublishedIndex> from = ReadVersionIndex(parsed, *parsed.Value("--from"), from_dir, error);
  const std::optional<PublishedIndex> to =
      from ? ReadVersionIndex(parsed, *parsed.Value("--to"), to_dir, error) : std::nullopt;
  if (!to) {
    ErrLine("embpatch update-cost: " + error);
    return kExitFailure;
  }
  std::vector<std::string> changed;
  const UpdateCost cost = ChunkCost(from->index, to->index, changed);
  OutLine("changed " + std::to_string(cost.changed_files) + " files");
  OutLine("download " + std::to_string(cost.download_bytes) + " bytes in " +
          std::to_string(cost.requests) + " requests");
  OutLine("reused " + std::to_string(cost.reused_bytes) + " bytes");
  OutLine("whole-file " + std::to_string(WholeFileBytes(to_dir, changed)) + " bytes");
  OutLine("index " + std::to_string(to->bytes.size()) + " bytes");
  return kExitOk;
}

}  // namespace emberfall::cli
