#include "core/crc_list.h"

#include <cinttypes>
#include <cstdio>
#include <unordered_map>

#include "core/patch_error.h"
#include "core/safe_path.h"
#include "core/text.h"

namespace emberfall {
namespace {

constexpr size_t kQuotedLineBytes = 160;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Trimming knows four bytes; token separation knows the classic locale's six.
bool IsTrimByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsTokenSpace(char c) { return IsTrimByte(c) || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsTrimByte(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimByte(text.back())) text.remove_suffix(1);
  return text;
}

// Splits the next whitespace-separated token off the front of |rest|.
bool NextToken(std::string_view& rest, std::string_view& token) {
  size_t start = 0;
  while (start < rest.size() && IsTokenSpace(rest[start])) ++start;
  if (start == rest.size()) return false;
  size_t stop = start;
  while (stop < rest.size() && !IsTokenSpace(rest[stop])) ++stop;
  token = rest.substr(start, stop - start);
  rest.remove_prefix(stop);
  return true;
}

bool ParseHexCrc(std::string_view token, std::uint32_t& value) {
  if (token.empty() || token.size() > 8) return false;
  std::uint32_t result = 0;
  for (char c : token) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    result = (result << 4) | digit;
  }
  value = result;
  return true;
}

// Digits only, with an optional leading "-" on tokens of two bytes or more;
// the value must fit a signed 64-bit integer.
bool ParseDecimal(std::string_view token, std::int64_t& value) {
  const bool negative = token.starts_with('-');
  if (negative) token.remove_prefix(1);
  // The magnitude as unsigned, so that INT64_MIN fits.
  constexpr std::uint64_t kMaxPositive = 9223372036854775807ULL;
  const std::optional<std::uint64_t> magnitude = ParseUnsignedDecimal(
      token, negative ? kMaxPositive + 1 : kMaxPositive, LeadingZeros::kAllowed);
  if (!magnitude) return false;
  value = negative ? static_cast<std::int64_t>(0 - *magnitude) : static_cast<std::int64_t>(*magnitude);
  return true;
}

[[noreturn]] void FailLine(size_t line_number, std::u16string what) {
  throw PatchFailure(PatchErrorCode::CrcListInvalid,
                     u"crclist line " + ToWideDecimalUnsigned(line_number) + u": " + what);
}

}  // namespace

bool ParseCrcListLine(std::string_view line, CrcListEntry& entry) {
  std::string_view rest = line;
  std::string_view tokens[4];
  for (std::string_view& token : tokens) {
    if (!NextToken(rest, token)) return false;
  }

  CrcListEntry parsed;
  if (!ParseHexCrc(tokens[0], parsed.crc)) return false;
  if (!ParseDecimal(tokens[1], parsed.size) || parsed.size < 0) return false;
  if (!ParseDecimal(tokens[2], parsed.packed_size)) return false;
  if (!ParseDecimal(tokens[3], parsed.reserved)) return false;

  const std::string_view path = Trim(rest);
  if (path.empty()) return false;
  if (!IsSafeRelativePath(Utf8ToWideLenient(path), parsed.path_wide)) return false;
  parsed.path = std::string(path);
  entry = std::move(parsed);
  return true;
}

std::vector<CrcListEntry> ParseCrcList(std::string_view text) {
  std::vector<CrcListEntry> entries;
  std::unordered_map<std::u16string, size_t> index_by_key;
  size_t line_number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t newline = text.find('\n', pos);
    const size_t stop = newline == std::string_view::npos ? text.size() : newline;
    std::string_view line = text.substr(pos, stop - pos);
    pos = stop + 1;
    ++line_number;

    if (line_number == 1 && line.starts_with(kByteOrderMark)) line.remove_prefix(kByteOrderMark.size());
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;

    CrcListEntry entry;
    if (!ParseCrcListLine(line, entry)) {
      FailLine(line_number, Utf8ToWideLenient(line.substr(0, kQuotedLineBytes)));
    }

    std::u16string key = PathKey(entry.path_wide);
    const auto [it, inserted] = index_by_key.try_emplace(std::move(key), entries.size());
    if (inserted) {
      entries.push_back(std::move(entry));
      continue;
    }
    const CrcListEntry& first = entries[it->second];
    if (first.crc != entry.crc || first.size != entry.size) {
      FailLine(line_number, u"conflicting duplicate " + entry.path_wide);
    }
  }
  return entries;
}

std::string FormatCrcList(std::span<const CrcListEntry> entries) {
  std::string list;
  for (const CrcListEntry& entry : entries) {
    char prefix[96];
    std::snprintf(prefix, sizeof(prefix), "%08" PRIx32 " %" PRId64 " %" PRId64 " %" PRId64 " ",
                  entry.crc, entry.size, entry.packed_size, entry.reserved);
    list += prefix + entry.path + "\n";
  }
  return list;
}

std::int64_t EstimateDownloadSize(std::int64_t size, std::int64_t packed_size) {
  if (packed_size >= 1 && packed_size < size) return packed_size;
  const std::int64_t quarter = size / 4;
  return quarter < 1 ? 1 : quarter;
}

}  // namespace emberfall
