#include "core/verified_hashes.h"

#include "core/crc_list.h"
#include "core/file_apply.h"
#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::string_view kHeader = "EMBSH1";
constexpr std::uint64_t kReadLimit = 512ull * 1048576;

// "<hex> <size> <time> <index> <path>", every field in its one spelling.
bool ParseLine(std::string_view line, VerifiedHash& record) {
  std::string_view fields[4];
  for (std::string_view& field : fields) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    field = line.substr(0, space);
    line.remove_prefix(space + 1);
  }
  const auto size = ParseUnsignedDecimal(fields[1]);
  const auto time = ParseUnsignedDecimal(fields[2]);
  const auto index = ParseUnsignedDecimal(fields[3]);
  if (!size || !time || !index || !HexDecode(fields[0], record.sha256.data(), 32)) return false;
  record.path = Utf8ToWide(line);
  if (record.path.empty()) return false;
  record.state = {*size, *time, *index};
  return true;
}

}  // namespace

void ParseVerifiedHashes(std::string_view bytes,
                         std::unordered_map<std::u16string, VerifiedHash>& records) {
  records.clear();
  if (!bytes.starts_with(kHeader) || bytes.substr(kHeader.size(), 1) != "\n") return;
  bytes.remove_prefix(kHeader.size() + 1);
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    if (end == std::string_view::npos) break;  // a last line cut short is not ours
    VerifiedHash record;
    if (ParseLine(bytes.substr(0, end), record)) {
      std::u16string key = PathKey(record.path);
      records.insert_or_assign(std::move(key), std::move(record));
    }
    bytes.remove_prefix(end + 1);
  }
}

void LoadVerifiedHashes(VerifiedHashes& hashes) {
  std::string bytes;
  hashes.records.clear();
  if (ReadOwnFile(hashes.filePath, kReadLimit, bytes)) ParseVerifiedHashes(bytes, hashes.records);
}

std::string FormatVerifiedHashes(const VerifiedHashes& hashes,
                                 const std::vector<CrcListEntry>& entries) {
  std::string out(kHeader);
  out += '\n';
  for (const CrcListEntry& entry : entries) {
    const auto it = hashes.records.find(PathKey(entry.path_wide));
    if (it == hashes.records.end()) continue;
    const VerifiedHash& record = it->second;
    out += HexEncode(record.sha256) + " " + std::to_string(record.state.size) + " " +
           std::to_string(record.state.lastWriteTime) + " " +
           std::to_string(record.state.fileIndex) + " " + WideToUtf8(record.path) + "\n";
  }
  return out;
}

bool SaveVerifiedHashes(const VerifiedHashes& hashes, const std::vector<CrcListEntry>& entries) {
  return ReplaceFileContents(hashes.filePath, FormatVerifiedHashes(hashes, entries));
}

void RecordVerifiedHash(VerifiedHashes& hashes, const std::u16string& path,
                        const FileState& state, const Sha256Digest& sha256) {
  hashes.records.insert_or_assign(PathKey(path), VerifiedHash{path, state, sha256});
}

const Sha256Digest* FindVerifiedHash(const VerifiedHashes& hashes, std::u16string_view path,
                                     const FileState& state) {
  const auto it = hashes.records.find(PathKey(path));
  if (it == hashes.records.end() || !(it->second.state == state)) return nullptr;
  return &it->second.sha256;
}

}  // namespace emberfall
