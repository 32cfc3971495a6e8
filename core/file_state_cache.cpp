#include "core/file_state_cache.h"

#include <cinttypes>
#include <cstdio>

#include "core/crc_list.h"
#include "core/file_apply.h"
#include "core/file_state.h"
#include "core/fs_path.h"
#include "core/text.h"

namespace emberfall {
namespace {

// Far above any real game's cache (a record is about 70 bytes); a larger file
// in the game folder is not one this code wrote, and not worth the memory.
constexpr std::uint64_t kCacheReadLimit = 512ull * 1048576;

constexpr std::string_view kHeader = "EMBVC1";

// The white space of the classic locale, which stream extraction skips.
bool IsStreamSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void SkipSpace(std::string_view line, size_t& pos) {
  while (pos < line.size() && IsStreamSpace(line[pos])) ++pos;
}

// Like `stream >> std::string`: the next run of non-space bytes.
bool ExtractToken(std::string_view line, size_t& pos, std::string_view& token) {
  SkipSpace(line, pos);
  const size_t start = pos;
  while (pos < line.size() && !IsStreamSpace(line[pos])) ++pos;
  token = line.substr(start, pos - start);
  return !token.empty();
}

// Like `stream >> integer` in the classic locale: white space, an optional
// sign, then decimal digits up to the first other byte. |negative| tells
// whether a minus sign was read; |magnitude| fails to parse on overflow.
bool ExtractMagnitude(std::string_view line, size_t& pos, bool& negative, std::uint64_t& magnitude) {
  SkipSpace(line, pos);
  negative = false;
  if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) {
    negative = line[pos] == '-';
    ++pos;
  }
  const DecimalDigits digits = ReadDecimalDigits(line.substr(pos));
  if (digits.length == 0) return false;
  pos += digits.length;
  magnitude = digits.value;
  return !digits.overflow;
}

bool ExtractSigned(std::string_view line, size_t& pos, std::int64_t& value) {
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (!ExtractMagnitude(line, pos, negative, magnitude)) return false;
  constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
  if (magnitude > (negative ? kMaxPositive + 1 : kMaxPositive)) return false;
  value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

// Unsigned extraction accepts a minus sign and wraps, as strtoull does.
bool ExtractUnsigned(std::string_view line, size_t& pos, std::uint64_t& value) {
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (!ExtractMagnitude(line, pos, negative, magnitude)) return false;
  value = negative ? 0 - magnitude : magnitude;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// strtoul(token, &end, 16) with Windows' 32-bit unsigned long: optional
// sign, optional "0x", hexadecimal digits; out of range gives 0xFFFFFFFF.
// Fails when nothing was read or the conversion stops before the end.
bool ParseCrcToken(std::string_view token, std::uint32_t& value) {
  size_t pos = 0;
  bool negative = false;
  if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
    negative = token[pos] == '-';
    ++pos;
  }
  if (pos + 2 < token.size() && token[pos] == '0' && (token[pos + 1] == 'x' || token[pos + 1] == 'X') &&
      HexDigit(token[pos + 2]) >= 0) {
    pos += 2;
  }
  const size_t digits = pos;
  std::uint64_t accumulated = 0;
  bool overflow = false;
  while (pos < token.size() && HexDigit(token[pos]) >= 0) {
    accumulated = accumulated * 16 + static_cast<std::uint64_t>(HexDigit(token[pos]));
    if (accumulated > 0xFFFFFFFFu) {
      overflow = true;
      accumulated = 0xFFFFFFFFu;
    }
    ++pos;
  }
  if (pos == digits || pos != token.size()) return false;
  const auto magnitude = static_cast<std::uint32_t>(accumulated);
  value = overflow ? 0xFFFFFFFFu : (negative ? 0u - magnitude : magnitude);
  return true;
}

bool ParseRecordLine(std::string_view line, CacheRecord& record) {
  size_t pos = 0;
  std::string_view token;
  std::int64_t size = 0;
  std::uint64_t last_write_time = 0;
  std::uint64_t file_index = 0;
  if (!ExtractToken(line, pos, token) || !ExtractSigned(line, pos, size) ||
      !ExtractUnsigned(line, pos, last_write_time) || !ExtractUnsigned(line, pos, file_index)) {
    return false;
  }
  const std::string_view rest = line.substr(pos);
  if (rest.size() < 2 || rest.front() != ' ') return false;
  std::uint32_t crc = 0;
  if (!ParseCrcToken(token, crc)) return false;
  std::u16string path = Utf8ToWide(rest.substr(1));
  if (path.empty()) return false;
  record.path = std::move(path);
  record.state.size = static_cast<std::uint64_t>(size);
  record.state.lastWriteTime = last_write_time;
  record.state.fileIndex = file_index;
  record.crc = crc;
  return true;
}

std::string_view DropOneCr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

void ParseCacheFile(std::string_view bytes, std::unordered_map<std::u16string, CacheRecord>& records) {
  records.clear();
  // Lines as getline yields them: a final line without LF counts, the empty
  // piece after a final LF does not.
  size_t pos = 0;
  bool header = true;
  while (pos < bytes.size()) {
    const size_t newline = bytes.find('\n', pos);
    const size_t stop = newline == std::string_view::npos ? bytes.size() : newline;
    const std::string_view line = DropOneCr(bytes.substr(pos, stop - pos));
    pos = stop + 1;
    if (header) {
      if (line != kHeader) return;
      header = false;
      continue;
    }
    CacheRecord record;
    if (!ParseRecordLine(line, record)) continue;
    std::u16string key = PathKey(record.path);
    records.insert_or_assign(std::move(key), std::move(record));
  }
}

void LoadCache(FileStateCache& cache) {
  cache.records.clear();
  std::string bytes;
  if (ReadOwnFile(cache.cachePath, kCacheReadLimit, bytes)) ParseCacheFile(bytes, cache.records);
}

std::string FormatCacheFile(const FileStateCache& cache, const std::vector<CrcListEntry>& entries) {
  std::string out(kHeader);
  out += '\n';
  for (const CrcListEntry& entry : entries) {
    const auto it = cache.records.find(PathKey(entry.path_wide));
    if (it == cache.records.end()) continue;
    const CacheRecord& record = it->second;
    char prefix[96];
    std::snprintf(prefix, sizeof(prefix), "%08" PRIx32 " %" PRId64 " %" PRIu64 " %" PRIu64 " ",
                  record.crc, static_cast<std::int64_t>(record.state.size),
                  record.state.lastWriteTime, record.state.fileIndex);
    out += prefix;
    out += WideToUtf8(record.path);
    out += '\n';
  }
  return out;
}

bool SaveCache(const FileStateCache& cache, const std::vector<CrcListEntry>& entries) {
  return ReplaceFileContents(cache.cachePath, FormatCacheFile(cache, entries));
}

void RecordFileState(FileStateCache& cache, const std::u16string& path, const FileState& state,
                     std::uint32_t crc) {
  cache.records.insert_or_assign(PathKey(path), CacheRecord{path, state, crc});
}

}  // namespace emberfall
